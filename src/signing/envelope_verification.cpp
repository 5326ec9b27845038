#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include "ed25519_verify.h"
#include "signature_verifier.h"
#include "strict_base64url.h"

namespace {

constexpr qsizetype kSignatureBytes = 64;

}  // namespace

bool SignatureVerifier::verifyEnvelope(const QByteArray& envelope, QByteArray& payload,
                                       QString& keyId, QString& message) const {
    return checkEnvelope(envelope, &trustedKeys_, payload, keyId, message);
}

bool SignatureVerifier::readUnverifiedEnvelope(const QByteArray& envelope, QByteArray& payload,
                                               QString& keyId, QString& message) {
    return checkEnvelope(envelope, nullptr, payload, keyId, message);
}

bool SignatureVerifier::checkEnvelope(const QByteArray& envelope,
                                      const QHash<QString, QByteArray>* trustedKeys,
                                      QByteArray& payload, QString& keyId, QString& message) {
    payload.clear();
    keyId.clear();

    // Before parsing, so that an oversized file costs nothing but its read.
    if (envelope.isEmpty() || envelope.size() > kMaxEnvelopeBytes) {
        message = tr("Signed envelope is empty or exceeds its size limit.");
        return false;
    }

    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(envelope, &parseError);
    if (parseError.error != QJsonParseError::NoError || !json.isObject()) {
        message = tr("Signed envelope is not valid JSON.");
        return false;
    }
    const QJsonObject root = json.object();

    if (root.value(QLatin1String("envelopeVersion")).toInt(0) != 1 ||
        root.value(QLatin1String("algorithm")).toString() != QLatin1String("Ed25519")) {
        message = tr("Signed envelope algorithm or version is not supported.");
        return false;
    }

    keyId = root.value(QLatin1String("keyId")).toString().trimmed();
    if (keyId.isEmpty() || keyId.size() > kMaxKeyIdLength) {
        message = tr("Signed envelope key ID is invalid.");
        return false;
    }

    QByteArray publicKey;
    if (trustedKeys != nullptr) {
        const auto trusted = trustedKeys->constFind(keyId);
        if (trusted == trustedKeys->cend()) {
            message = tr("Signed envelope uses an unknown key: %1").arg(keyId);
            return false;
        }
        publicKey = trusted.value();
    }

    const QByteArray decodedPayload =
        decodeStrictBase64Url(root.value(QLatin1String("payload")).toString());
    const QByteArray signature =
        decodeStrictBase64Url(root.value(QLatin1String("signature")).toString());
    if (decodedPayload.isEmpty() || decodedPayload.size() > kMaxPayloadBytes ||
        signature.size() != kSignatureBytes) {
        message = tr("Signed envelope payload or signature is malformed.");
        return false;
    }

    // The signature covers the decoded bytes alone; no other field of the envelope is signed.
    if (trustedKeys != nullptr && !verifyEd25519(publicKey, decodedPayload, signature)) {
        message = tr("Signed envelope signature is invalid.");
        return false;
    }

    payload = decodedPayload;
    return true;
}
