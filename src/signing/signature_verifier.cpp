#include "signature_verifier.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMessageLogger>
#include <QtGlobal>
#include <algorithm>

#include "strict_base64url.h"

namespace {

const char kEmbeddedDocumentPath[] = ":/config/trusted-keys.json";
const char kDevelopmentKeysVariable[] = "TAVORIN_LAUNCHER_TRUSTED_KEYS_FILE";
constexpr qsizetype kPublicKeyBytes = 32;

// A default-constructed logger carries no file, line or function, whatever the build type; the
// qCritical() macro would add them in debug builds.
QDebug criticalLine() {
    return QMessageLogger().critical().noquote();
}
QDebug warningLine() {
    return QMessageLogger().warning().noquote();
}

}  // namespace

SignatureVerifier::SignatureVerifier(bool allowDevelopmentKeys, QObject* parent) : QObject(parent) {
    QString message;
    QFile embedded(QString::fromLatin1(kEmbeddedDocumentPath));
    if (embedded.open(QIODevice::ReadOnly)) {
        if (!loadTrustedKeyDocument(embedded.readAll(), message)) {
            criticalLine() << "trusted key configuration rejected:" << message;
        }
    } else {
        criticalLine() << "embedded trusted key configuration is missing";
    }

    const QString developmentFile = qEnvironmentVariable(kDevelopmentKeysVariable).trimmed();
    if (!allowDevelopmentKeys || developmentFile.isEmpty()) {
        return;
    }
    QFile development(developmentFile);
    if (!development.open(QIODevice::ReadOnly)) {
        criticalLine() << "development trusted key file could not be opened:" << developmentFile;
        return;
    }
    message.clear();
    if (loadTrustedKeyDocument(development.readAll(), message)) {
        warningLine() << "development trusted keys loaded from" << developmentFile;
    } else {
        criticalLine() << "development trusted key file rejected:" << message;
    }
}

SignatureVerifier::~SignatureVerifier() = default;

bool SignatureVerifier::fromTrustedKeyDocument(const QByteArray& document,
                                               std::unique_ptr<SignatureVerifier>& verifier,
                                               QString& message) {
    std::unique_ptr<SignatureVerifier> loaded(new SignatureVerifier());
    if (!loaded->loadTrustedKeyDocument(document, message)) {
        return false;
    }
    verifier = std::move(loaded);
    return true;
}

QStringList SignatureVerifier::trustedKeyIds() const {
    QStringList ids = trustedKeys_.keys();
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool SignatureVerifier::loadTrustedKeyDocument(const QByteArray& document, QString& message) {
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(document, &parseError);
    if (parseError.error != QJsonParseError::NoError || !json.isObject()) {
        message = tr("Trusted key document is not valid JSON.");
        return false;
    }
    const QJsonObject root = json.object();
    // toInt() gives the default for fractions, strings and integers out of int range alike, so
    // nothing but a value equal to 1 passes (1.0 included).
    const QJsonValue keysValue = root.value(QLatin1String("keys"));
    if (root.value(QLatin1String("schemaVersion")).toInt(0) != 1 || !keysValue.isArray()) {
        message = tr("Trusted key document schema is not supported.");
        return false;
    }

    // Collected apart from the set, so that a document refused halfway adds nothing.
    QList<TrustedKey> collected;
    const QJsonArray keys = keysValue.toArray();
    for (const QJsonValue& element : keys) {
        if (!element.isObject()) {
            message = tr("Trusted key entry must be an object.");
            return false;
        }
        const QJsonObject entry = element.toObject();
        TrustedKey key;
        key.keyId = entry.value(QLatin1String("keyId")).toString().trimmed();
        key.publicKey = decodeStrictBase64Url(entry.value(QLatin1String("publicKey")).toString());
        const bool repeated =
            std::any_of(collected.cbegin(), collected.cend(),
                        [&key](const TrustedKey& earlier) { return earlier.keyId == key.keyId; });
        if (key.keyId.isEmpty() || key.keyId.size() > kMaxKeyIdLength ||
            key.publicKey.size() != kPublicKeyBytes || repeated) {
            message = tr("Trusted key entry is invalid or duplicated.");
            return false;
        }
        collected.append(key);
    }

    for (const TrustedKey& key : collected) {
        trustedKeys_.insert(key.keyId, key.publicKey);
    }
    return true;
}
