#include "tst_signing.h"

#include <QJsonDocument>
#include <QTest>

namespace {

QStringList* capturedLog = nullptr;

void captureLine(QtMsgType type, const QMessageLogContext&, const QString& text) {
    const char* level = type == QtCriticalMsg  ? "critical: "
                        : type == QtWarningMsg ? "warning: "
                                               : "other: ";
    capturedLog->append(QLatin1String(level) + text);
}

}  // namespace

QJsonObject keyEntry(const QString& keyId, const QString& publicKey) {
    return {{"keyId", keyId}, {"publicKey", publicKey}};
}

QByteArray keyDocument(const QJsonArray& entries) {
    return QJsonDocument(QJsonObject{{"schemaVersion", 1}, {"keys", entries}})
        .toJson(QJsonDocument::Compact);
}

std::unique_ptr<SignatureVerifier> constructVerifier(bool allowDevelopmentKeys,
                                                     const QString& variable, QStringList& log) {
    qputenv("TAVORIN_LAUNCHER_TRUSTED_KEYS_FILE", variable.toUtf8());
    capturedLog = &log;
    const QtMessageHandler previous = qInstallMessageHandler(captureLine);
    auto verifier = std::make_unique<SignatureVerifier>(allowDevelopmentKeys);
    qInstallMessageHandler(previous);
    qunsetenv("TAVORIN_LAUNCHER_TRUSTED_KEYS_FILE");
    return verifier;
}

QTEST_GUILESS_MAIN(TestSigning)
