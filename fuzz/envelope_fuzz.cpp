// The signed envelope, under the tests' key. What the verifier accepts is checked again apart
// from it: the payload's and the signature's texts must be base64url of what was decoded, and
// OpenSSL must find the signature good over exactly those bytes.
#include <openssl/evp.h>
#include <QJsonDocument>
#include <QJsonObject>

#include "fuzz_support.h"
#include "signature_verifier.h"
#include "strict_base64url.h"

namespace {

bool opensslVerifies(const QByteArray& payload, const QByteArray& signature) {
    // The public half of the tests' key "launcher-test-1".
    static const QByteArray publicKey =
        decodeStrictBase64Url(QStringLiteral("wPK4WkW2jqNmHoLYv-QE3hwL_KjYfqiNvKVAyeYTcvs"));
    EVP_PKEY* key = EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(publicKey.constData()),
        static_cast<std::size_t>(publicKey.size()));
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const bool good =
        key != nullptr && context != nullptr &&
        EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, key) == 1 &&
        EVP_DigestVerify(context, reinterpret_cast<const unsigned char*>(signature.constData()),
                         static_cast<std::size_t>(signature.size()),
                         reinterpret_cast<const unsigned char*>(payload.constData()),
                         static_cast<std::size_t>(payload.size())) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    return good;
}

// Whether `text` is base64url of `bytes`: the canonical encoding but for the unused low bits of
// its last character, which the decoder ignores, and "=" padding only where a text whose length
// is a multiple of 4 ends in one or two.
bool encodes(const QString& text, const QByteArray& bytes) {
    const QString canonical = QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    QString bare = text;
    while (bare.endsWith(QLatin1Char('='))) {
        bare.chop(1);
    }
    const qsizetype padding = text.size() - bare.size();
    return bare.size() == canonical.size() && bare.chopped(1) == canonical.chopped(1) &&
           (padding == 0 || (text.size() % 4 == 0 && padding <= 2));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray envelope = fuzz::bytesOf(data, size);
    QByteArray payload;
    QByteArray unverifiedPayload;
    QString keyId;
    QString unverifiedKeyId;
    QString message;
    const bool verified = fuzz::testVerifier().verifyEnvelope(envelope, payload, keyId, message);
    const bool read = SignatureVerifier::readUnverifiedEnvelope(envelope, unverifiedPayload,
                                                                unverifiedKeyId, message);
    if (verified != !payload.isEmpty() || read != !unverifiedPayload.isEmpty() ||
        (verified && (!read || payload != unverifiedPayload || keyId != unverifiedKeyId))) {
        fuzz::fail("the verified and the unverified reading disagree");
    }
    if (!read) {
        return 0;
    }
    const QJsonObject root = QJsonDocument::fromJson(envelope).object();
    const QString payloadText = root.value(QStringLiteral("payload")).toString();
    const QString signatureText = root.value(QStringLiteral("signature")).toString();
    const QByteArray signature = decodeStrictBase64Url(signatureText);
    if (!encodes(payloadText, unverifiedPayload) || signature.size() != 64 ||
        !encodes(signatureText, signature) ||
        unverifiedPayload.size() > SignatureVerifier::kMaxPayloadBytes) {
        fuzz::fail("an envelope was read from text that is not base64url of it");
    }
    if (verified &&
        (keyId != QLatin1String("launcher-test-1") || !opensslVerifies(payload, signature))) {
        fuzz::fail("an envelope verified that OpenSSL refuses");
    }
    return 0;
}
