#include "signing_test_helpers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "signing_fixtures.h"

const char kDevelopmentKeysVariable[] = "TAVORIN_LAUNCHER_TRUSTED_KEYS_FILE";

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

QByteArray keyDocument(const QString& keyId, const QByteArray& publicKey) {
    QJsonObject key;
    key.insert(QStringLiteral("keyId"), keyId);
    key.insert(QStringLiteral("publicKey"), testsupport::base64Url(publicKey));
    QJsonObject document;
    document.insert(QStringLiteral("schemaVersion"), 1);
    document.insert(QStringLiteral("keys"), QJsonArray{key});
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}
