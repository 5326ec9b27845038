// Signing fixtures shared by the tests: Ed25519 key pairs whose private halves are public on
// purpose, and envelopes signed with them through OpenSSL.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include "file_fixtures.h"

namespace testsupport {

// An Ed25519 key pair made from a fixed 32-byte seed (RFC 8032 private key).
struct TestSigningKey {
    QString keyId;
    QByteArray seed;

    QByteArray publicKey() const;                      // raw, 32 bytes
    QByteArray sign(const QByteArray& message) const;  // pure Ed25519, 64 bytes
    QByteArray privateKeyPem() const;                  // PKCS#8 PEM, as publishers keep it
};

// The key pair whose public half test-trusted-keys.json holds as "launcher-test-1", the document
// compiled into LauncherUpdater_testkeys and into the signing tests.
TestSigningKey testSigningKey();
// Another key pair under the same key id, which no trusted key document holds.
TestSigningKey untrustedSigningKey();

// Unpadded base64url text, as the launcher's tools write it.
QString base64Url(const QByteArray& bytes);

// The compact JSON of an envelope of `payload` signed by `key`: "envelopeVersion" 1, "algorithm"
// "Ed25519", the key's id, and payload and signature as unpadded base64url. The members of
// `changes` are put in afterwards, so that a test can forge any field.
QByteArray signEnvelope(const QByteArray& payload, const QJsonObject& changes = {},
                        const TestSigningKey& key = testSigningKey());

// Writes signEnvelope(payload) to `path`, e.g. a staged "manifest.envelope.json".
bool writeSignedEnvelope(const QString& path, const QByteArray& payload);

}  // namespace testsupport
