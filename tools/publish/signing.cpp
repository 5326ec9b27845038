#include "signing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "ed25519_keys.h"
#include "ed25519_verify.h"
#include "envelope_writer.h"
#include "signature_verifier.h"
#include "tool_files.h"

namespace {

// A PEM private key is a few hundred bytes.
constexpr qint64 kMaxPrivateKeyBytes = 65536;

std::unique_ptr<SignatureVerifier> verifierTrusting(const QJsonArray& keys) {
    const QJsonObject document{{QLatin1String("keys"), keys}, {QLatin1String("schemaVersion"), 1}};
    std::unique_ptr<SignatureVerifier> verifier;
    QString ignored;
    SignatureVerifier::fromTrustedKeyDocument(QJsonDocument(document).toJson(), verifier, ignored);
    return verifier;
}

}  // namespace

bool validKeyId(const QString& keyId) {
    const QString trimmed = keyId.trimmed();
    return !trimmed.isEmpty() && trimmed.size() <= SignatureVerifier::kMaxKeyIdLength;
}

bool signPayload(const QString& privateKeyPath, const QString& keyId, const QByteArray& payload,
                 QByteArray& envelope, std::unique_ptr<SignatureVerifier>& verifier,
                 QString& message) {
    QByteArray privateKeyPem;
    if (!readInputFile(privateKeyPath, kMaxPrivateKeyBytes, privateKeyPem, message)) {
        return false;
    }
    QByteArray signature;
    QByteArray publicKey;
    const bool signed_ = signEd25519(privateKeyPem, payload, signature, publicKey, message);
    wipeSecret(privateKeyPem);
    if (!signed_) {
        return false;
    }
    // What leaves here must verify: a fault in the signing library must not reach a release.
    if (!verifyEd25519(publicKey, payload, signature)) {
        message = QStringLiteral("The signature made does not verify.");
        return false;
    }
    const QString publicText = QString::fromLatin1(
        publicKey.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    verifier = verifierTrusting(QJsonArray{QJsonObject{{QLatin1String("keyId"), keyId.trimmed()},
                                                       {QLatin1String("publicKey"), publicText}}});
    envelope = composeSignedEnvelope(keyId.trimmed(), payload, signature);
    return verifier != nullptr;
}

std::unique_ptr<SignatureVerifier> verifierTrustingNothing() {
    return verifierTrusting(QJsonArray());
}
