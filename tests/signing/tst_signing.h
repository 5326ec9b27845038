// Tests of SignatureVerifier. The executable has test-trusted-keys.json compiled in, so every
// verifier made here starts from the single key "launcher-test-1" of testsupport::testSigningKey().
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <memory>

#include "signature_verifier.h"

class TestSigning : public QObject {
    Q_OBJECT

private slots:
    void keyDocumentRules_data();  // trusted_key_document_test.cpp
    void keyDocumentRules();
    void envelopeRules_data();  // envelope_test.cpp
    void envelopeRules();
    void messagesAreTranslated();
    void wycheproof_data();  // wycheproof_test.cpp
    void wycheproof();
    void embeddedDocument_data();  // embedded_keys_test.cpp
    void embeddedDocument();
};

// A trusted key document entry, and a document of schema 1 holding `entries`.
QJsonObject keyEntry(const QString& keyId, const QString& publicKey);
QByteArray keyDocument(const QJsonArray& entries);

// Constructs a verifier with TAVORIN_LAUNCHER_TRUSTED_KEYS_FILE set to `variable` meanwhile. What
// the construction logs goes to `log`, each line as "critical: text" or "warning: text".
std::unique_ptr<SignatureVerifier> constructVerifier(bool allowDevelopmentKeys,
                                                     const QString& variable, QStringList& log);
