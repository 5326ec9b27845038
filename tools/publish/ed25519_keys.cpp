#include "ed25519_keys.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

constexpr std::size_t kPublicKeyBytes = 32;
constexpr std::size_t kSignatureBytes = 64;

// Refuses every passphrase prompt: an encrypted key is refused rather than asked about.
int noPassphrase(char*, int, int, void*) {
    return -1;
}

bool rawPublicKey(EVP_PKEY* key, QByteArray& publicKey) {
    QByteArray raw(kPublicKeyBytes, '\0');
    std::size_t length = kPublicKeyBytes;
    if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(raw.data()), &length) !=
            1 ||
        length != kPublicKeyBytes) {
        return false;
    }
    publicKey = raw;
    return true;
}

}  // namespace

void wipeSecret(QByteArray& secret) {
    if (!secret.isEmpty()) {
        OPENSSL_cleanse(secret.data(), static_cast<std::size_t>(secret.size()));
    }
    secret.clear();
}

bool generateEd25519Key(QByteArray& privateKeyPem, QByteArray& publicKey) {
    const Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    const Bio memory(BIO_new(BIO_s_mem()));
    if (!key || !memory || !rawPublicKey(key.get(), publicKey) ||
        PEM_write_bio_PrivateKey(memory.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1) {
        return false;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(memory.get(), &data);
    privateKeyPem = QByteArray(data, static_cast<qsizetype>(length));
    // The memory BIO frees its buffer without clearing it.
    OPENSSL_cleanse(data, static_cast<std::size_t>(length));
    return true;
}

bool signEd25519(const QByteArray& privateKeyPem, const QByteArray& data, QByteArray& signature,
                 QByteArray& publicKey, QString& message) {
    const Bio text(
        BIO_new_mem_buf(privateKeyPem.constData(), static_cast<int>(privateKeyPem.size())));
    const Key key(text ? PEM_read_bio_PrivateKey(text.get(), nullptr, noPassphrase, nullptr)
                       : nullptr);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519 ||
        !rawPublicKey(key.get(), publicKey)) {
        message = QStringLiteral("The private key is not an unencrypted PKCS#8 PEM Ed25519 key.");
        return false;
    }
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    QByteArray made(kSignatureBytes, '\0');
    std::size_t length = kSignatureBytes;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(made.data()), &length,
                       reinterpret_cast<const unsigned char*>(data.constData()),
                       static_cast<std::size_t>(data.size())) != 1 ||
        length != kSignatureBytes) {
        message = QStringLiteral("Could not sign with the private key.");
        return false;
    }
    signature = made;
    return true;
}
