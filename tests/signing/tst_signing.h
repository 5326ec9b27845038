// Tests of SignatureVerifier. The executable has test-trusted-keys.json compiled in, so every
// verifier made here starts from the single key "launcher-test-1" of testsupport::testSigningKey().
#pragma once

#include <QObject>

class TestSigning : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // trusted_key_document_test.cpp
    void keyDocumentRules_data();
    void keyDocumentRules();
    void developmentKeyFile_data();
    void developmentKeyFile();
    void developmentKeyReplacesCompiledInKey();
    void refusedDevelopmentFileKeepsCompiledInKeys();

    // envelope_test.cpp
    void envelopeRules_data();
    void envelopeRules();
    void envelopeSizeBoundary_data();
    void envelopeSizeBoundary();
    void payloadSizeBoundary_data();
    void payloadSizeBoundary();
    void everyFlippedBitIsRefused_data();
    void everyFlippedBitIsRefused();
    void everyTruncationIsRefused();
    void messagesAreTranslatedInTheirContext();

    // wycheproof_test.cpp
    void wycheproofVectorCount();
    void wycheproof_data();
    void wycheproof();

    // embedded_keys_test.cpp
    void embeddedDocument_data();
    void embeddedDocument();
};
