#include <QDir>
#include <memory>

#include "command_line.h"
#include "console.h"
#include "signature_verifier.h"
#include "signing.h"
#include "tool_files.h"

int signCommand(const Arguments& arguments) {
    const QString keyId = arguments.value("--key-id").trimmed();
    if (!validKeyId(keyId)) {
        return usageError(arguments, QStringLiteral("the key id must be 1 to 100 characters."));
    }
    QByteArray payload;
    QByteArray envelope;
    std::unique_ptr<SignatureVerifier> verifier;
    QString message;
    const QString output = arguments.value("--output");
    if (!readInputFile(arguments.value("--payload"), SignatureVerifier::kMaxPayloadBytes, payload,
                       message) ||
        !signPayload(arguments.value("--private-key"), keyId, payload, envelope, verifier,
                     message) ||
        !writeOutputFile(output, envelope, message)) {
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
