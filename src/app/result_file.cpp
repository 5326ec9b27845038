#include "result_file.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include "failure_log.h"
#include "file_operations.h"

QString repairResultPath(const QString& planPath) {
    return QDir(QFileInfo(planPath).absolutePath()).absoluteFilePath(QStringLiteral("result.json"));
}

bool writeRepairResult(FileOperations& files, const QString& planPath, int code,
                       const QString& message) {
    QJsonObject result;
    result.insert(QStringLiteral("schemaVersion"), 1);
    result.insert(QStringLiteral("ok"), code == 0);
    result.insert(QStringLiteral("errorCode"), code);
    result.insert(QStringLiteral("message"), reportedMessage(message));
    return files.writeFile(repairResultPath(planPath),
                           QJsonDocument(result).toJson(QJsonDocument::Compact));
}
