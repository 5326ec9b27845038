#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <memory>

#include "command_line.h"
#include "console.h"
#include "ed25519_keys.h"
#include "file_operations.h"
#include "native_path.h"
#include "platform.h"
#include "signature_verifier.h"
#include "signing.h"
#include "tool_files.h"

namespace {

// The private key appears under its name complete and readable by its owner only, and never
// replaces a file that stands there.
bool writePrivateKey(const QString& path, const QByteArray& pem, QString& message) {
    const QFileInfo target(path);
    const QString temporary = QStringLiteral("%1/.%2.%3")
                                  .arg(target.absolutePath(), target.fileName(),
                                       QUuid::createUuid().toString(QUuid::Id128).left(12));
    std::uint32_t error = 0;
    if (!platform::writeNewFile(nativeFilePath(temporary), pem.constData(),
                                static_cast<std::size_t>(pem.size()), &error, true)) {
        message = QStringLiteral("Could not write %1.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!systemFileOperations().rename(temporary, target.absoluteFilePath())) {
        systemFileOperations().remove(temporary);
        message = QStringLiteral("Could not write %1.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

// The file `path` names, as far as the system can tell before it exists: its directory resolved
// (links, "..", another spelling), then its own name.
QString resolvedFilePath(const QString& path) {
    const QFileInfo info(path);
    const QString directory = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (directory.isEmpty() ? info.absolutePath() : directory) + QLatin1Char('/') +
           info.fileName();
}

bool sameFile(const QString& first, const QString& second) {
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity sensitivity = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity sensitivity = Qt::CaseSensitive;
#endif
    return resolvedFilePath(first).compare(resolvedFilePath(second), sensitivity) == 0;
}

}  // namespace

int keygenCommand(const Arguments& arguments) {
    const QString keyId = arguments.value("--key-id").trimmed();
    const QString privateKeyPath = arguments.value("--private-key");
    const QString documentPath = arguments.value("--trusted-keys");
    if (!validKeyId(keyId)) {
        return usageError(arguments, QStringLiteral("the key id must be 1 to 100 characters."));
    }
    // The document would be written over the key just made, and the key lost for good.
    if (sameFile(privateKeyPath, documentPath)) {
        return refuse(arguments, QStringLiteral("%1 and %2 are one file; the private key and the "
                                                "trusted key document need one each.")
                                     .arg(QDir::toNativeSeparators(privateKeyPath),
                                          QDir::toNativeSeparators(documentPath)));
    }
    if (systemFileOperations().exists(QFileInfo(privateKeyPath).absoluteFilePath())) {
        return refuse(arguments,
                      QStringLiteral("%1 already exists; keygen never overwrites a private key.")
                          .arg(QDir::toNativeSeparators(privateKeyPath)));
    }

    // An existing document is taken only when the updater would take it, and keeps all it holds.
    QJsonObject document{{QLatin1String("schemaVersion"), 1}};
    if (systemFileOperations().exists(QFileInfo(documentPath).absoluteFilePath())) {
        QByteArray bytes;
        QString refusal;
        std::unique_ptr<SignatureVerifier> existing;
        if (!loadTrustedKeys(documentPath, existing, refusal, &bytes)) {
            return refuse(arguments, refusal);
        }
        if (existing->trustedKeyIds().contains(keyId)) {
            return refuse(arguments, QStringLiteral("%1 already holds a key with the id %2.")
                                         .arg(QDir::toNativeSeparators(documentPath), keyId));
        }
        document = QJsonDocument::fromJson(bytes).object();
    }

    QByteArray privateKeyPem;
    QByteArray publicKey;
    if (!generateEd25519Key(privateKeyPem, publicKey)) {
        return refuse(arguments, QStringLiteral("Could not generate an Ed25519 key."));
    }
    const QString publicText = QString::fromLatin1(
        publicKey.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    QJsonArray keys = document.value(QLatin1String("keys")).toArray();
    keys.append(
        QJsonObject{{QLatin1String("keyId"), keyId}, {QLatin1String("publicKey"), publicText}});
    document.insert(QLatin1String("keys"), keys);

    QString message;
    const bool keyWritten = writePrivateKey(privateKeyPath, privateKeyPem, message);
    wipeSecret(privateKeyPem);
    if (!keyWritten) {
        return refuse(arguments, message);
    }
    if (!writeOutputFile(documentPath, QJsonDocument(document).toJson(QJsonDocument::Indented),
                         message)) {
        systemFileOperations().remove(QFileInfo(privateKeyPath).absoluteFilePath());
        return refuse(arguments, message);
    }
    printOut(QStringLiteral("Wrote the private key to %1; keep it secret.\n"
                            "Trusted %2 in %3 with the public key %4.")
                 .arg(QDir::toNativeSeparators(privateKeyPath), keyId,
                      QDir::toNativeSeparators(documentPath), publicText));
    return kSucceeded;
}
