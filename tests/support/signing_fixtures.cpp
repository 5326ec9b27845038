#include "signing_fixtures.h"

#include <openssl/evp.h>

#include <QFile>
#include <QJsonDocument>
#include <QtGlobal>
#include <memory>

namespace testsupport {
namespace {

struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

Pkey privateKey(const QByteArray& seed) {
    Pkey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                          reinterpret_cast<const unsigned char*>(seed.constData()),
                                          static_cast<size_t>(seed.size())));
    if (!key) {
        qFatal("test signing key: OpenSSL refused the Ed25519 seed");
    }
    return key;
}

}  // namespace

QByteArray TestSigningKey::publicKey() const {
    const Pkey key = privateKey(seed);
    QByteArray raw(32, '\0');
    size_t length = static_cast<size_t>(raw.size());
    if (EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(raw.data()),
                                    &length) != 1 ||
        length != 32) {
        qFatal("test signing key: no raw public key");
    }
    return raw;
}

QByteArray TestSigningKey::sign(const QByteArray& message) const {
    const Pkey key = privateKey(seed);
    const std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> context(EVP_MD_CTX_new());
    QByteArray signature(64, '\0');
    size_t length = static_cast<size_t>(signature.size());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(message.constData()),
                       static_cast<size_t>(message.size())) != 1 ||
        length != 64) {
        qFatal("test signing key: signing failed");
    }
    return signature;
}

TestSigningKey testSigningKey() {
    return {
        QStringLiteral("launcher-test-1"),
        QByteArray::fromHex("d51008b698d4c88991639b4287e7769e99ef3a7d8f7fe9bda4d5d5e9f20ee5f5")};
}

TestSigningKey untrustedSigningKey() {
    return {
        QStringLiteral("launcher-test-1"),
        QByteArray::fromHex("f8eb5a716c67dd61bd5c47902d6e4a6e8ccd26e3bce8f77fee66614b12684ffb")};
}

QString base64Url(const QByteArray& bytes) {
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QJsonObject signedEnvelopeObject(const QByteArray& payload, const TestSigningKey& key) {
    QJsonObject envelope;
    envelope.insert(QStringLiteral("envelopeVersion"), 1);
    envelope.insert(QStringLiteral("algorithm"), QStringLiteral("Ed25519"));
    envelope.insert(QStringLiteral("keyId"), key.keyId);
    envelope.insert(QStringLiteral("payload"), base64Url(payload));
    envelope.insert(QStringLiteral("signature"), base64Url(key.sign(payload)));
    return envelope;
}

QByteArray envelopeBytes(const QJsonObject& envelope) {
    return QJsonDocument(envelope).toJson(QJsonDocument::Compact);
}

QByteArray signEnvelope(const QByteArray& payload, const TestSigningKey& key) {
    return envelopeBytes(signedEnvelopeObject(payload, key));
}

bool writeSignedEnvelope(const QString& path, const QByteArray& payload,
                         const TestSigningKey& key) {
    QFile file(path);
    const QByteArray bytes = signEnvelope(payload, key);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

}  // namespace testsupport
