#include "result_file.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include "atomic_file.h"
#include "failure_log.h"

QString repairResultPath(const QString& planPath) {
    return QDir(QFileInfo(planPath).absolutePath()).absoluteFilePath(QStringLiteral("result.json"));
}

bool writeRepairResult(const QString& planPath, int code, const QString& message) {
    QJsonObject result;
    result.insert(QStringLiteral("schemaVersion"), 1);
    result.insert(QStringLiteral("ok"), code == 0);
    result.insert(QStringLiteral("errorCode"), code);
    result.insert(QStringLiteral("message"), reportedMessage(message));
    return saveFileAtomically(repairResultPath(planPath),
                              QJsonDocument(result).toJson(QJsonDocument::Compact));
}
