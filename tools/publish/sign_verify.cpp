#include <QDir>
#include <memory>

#include "command_line.h"
#include "console.h"
#include "ed25519_keys.h"
#include "ed25519_verify.h"
#include "envelope_writer.h"
#include "signature_verifier.h"
#include "tool_files.h"

namespace {

// A PEM private key is a few hundred bytes.
constexpr qint64 kMaxPrivateKeyBytes = 65536;

}  // namespace

int signCommand(const Arguments& arguments) {
    const QString keyId = arguments.value("--key-id").trimmed();
    if (keyId.isEmpty() || keyId.size() > SignatureVerifier::kMaxKeyIdLength) {
        return usageError(arguments, QStringLiteral("the key id must be 1 to 100 characters."));
    }
    QByteArray payload;
    QByteArray privateKeyPem;
    QString message;
    if (!readInputFile(arguments.value("--payload"), SignatureVerifier::kMaxPayloadBytes, payload,
                       message) ||
        !readInputFile(arguments.value("--private-key"), kMaxPrivateKeyBytes, privateKeyPem,
                       message)) {
        return refuse(arguments, message);
    }
    QByteArray signature;
    QByteArray publicKey;
    const bool signed_ = signEd25519(privateKeyPem, payload, signature, publicKey, message);
    wipeSecret(privateKeyPem);
    if (!signed_) {
        return refuse(arguments, message);
    }
    // What leaves here must verify: a fault in the signing library must not reach a release.
    if (!verifyEd25519(publicKey, payload, signature)) {
        return refuse(arguments, QStringLiteral("The signature made does not verify."));
    }
    const QString output = arguments.value("--output");
    if (!writeOutputFile(output, composeSignedEnvelope(keyId, payload, signature), message)) {
        return refuse(arguments, message);
    }
    printOut(QStringLiteral("Signed %1 with %2 into %3.")
                 .arg(QDir::toNativeSeparators(arguments.value("--payload")), keyId,
                      QDir::toNativeSeparators(output)));
    return kSucceeded;
}

int verifyCommand(const Arguments& arguments) {
    std::unique_ptr<SignatureVerifier> verifier;
    QByteArray envelope;
    QByteArray payload;
    QString keyId;
    QString message;
    if (!loadTrustedKeys(arguments.value("--trusted-keys"), verifier, message) ||
        !readInputFile(arguments.operands.first(), SignatureVerifier::kMaxEnvelopeBytes, envelope,
                       message) ||
        !verifier->verifyEnvelope(envelope, payload, keyId, message)) {
        return refuse(arguments, message);
    }
    printOut(keyId);
    return kSucceeded;
}
