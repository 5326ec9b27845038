#include "ed25519_verify.h"

#include <openssl/evp.h>

#include <memory>

namespace {

struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

constexpr int kPublicKeyBytes = 32;
constexpr int kSignatureBytes = 64;

}  // namespace

bool verifyEd25519(const QByteArray& publicKey, const QByteArray& message,
                   const QByteArray& signature) {
    if (publicKey.size() != kPublicKeyBytes || signature.size() != kSignatureBytes) {
        return false;
    }
    // Declared key first so that the context, which refers to the key, is freed before it.
    const std::unique_ptr<EVP_PKEY, PkeyDeleter> key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(publicKey.constData()),
        static_cast<size_t>(publicKey.size())));
    if (!key) {
        return false;
    }
    const std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> context(EVP_MD_CTX_new());
    if (!context) {
        return false;
    }
    // Ed25519 hashes internally, so no digest is named.
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return false;
    }
    // Anything but exactly 1 is a refusal: 0 is a bad signature, negative values are errors.
    return EVP_DigestVerify(context.get(),
                            reinterpret_cast<const unsigned char*>(signature.constData()),
                            static_cast<size_t>(signature.size()),
                            reinterpret_cast<const unsigned char*>(message.constData()),
                            static_cast<size_t>(message.size())) == 1;
}
