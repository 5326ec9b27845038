// Signing fixtures shared by the tests: a test Ed25519 key pair whose private half is public on
// purpose, and helpers that sign payloads into envelopes with OpenSSL.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace testsupport {

// An Ed25519 key pair made from a fixed 32-byte seed (RFC 8032 private key).
struct TestSigningKey {
    QString keyId;
    QByteArray seed;

    // The raw 32-byte public key.
    QByteArray publicKey() const;
    // The 64-byte pure Ed25519 signature of all of `message`.
    QByteArray sign(const QByteArray& message) const;
};

// The key pair whose public half test-trusted-keys.json holds under "launcher-test-1", the
// document compiled into LauncherUpdater_testkeys and into the signing tests.
TestSigningKey testSigningKey();
// A key pair that no trusted key document holds, under the same key id as testSigningKey().
TestSigningKey untrustedSigningKey();

// Unpadded base64url text, as the launcher's tools write it.
QString base64Url(const QByteArray& bytes);

// A signed envelope as a JSON object, so that a test can forge one field at a time:
// "envelopeVersion" 1, "algorithm" "Ed25519", the key's id, and `payload` with its signature
// as unpadded base64url.
QJsonObject signedEnvelopeObject(const QByteArray& payload,
                                 const TestSigningKey& key = testSigningKey());
// The compact JSON bytes of an envelope object.
QByteArray envelopeBytes(const QJsonObject& envelope);
// A complete signed envelope of `payload`, ready to be written as "manifest.envelope.json".
QByteArray signEnvelope(const QByteArray& payload, const TestSigningKey& key = testSigningKey());
// Writes signEnvelope(payload, key) to `path`. False when the file cannot be written.
bool writeSignedEnvelope(const QString& path, const QByteArray& payload,
                         const TestSigningKey& key = testSigningKey());

}  // namespace testsupport
