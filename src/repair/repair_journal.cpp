#include "repair_journal.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "file_operations.h"

QString repairJournalPath(const QString& installationRoot) {
    return QDir(installationRoot)
        .absoluteFilePath(QStringLiteral(".tavorin-repair-transaction.json"));
}

QString repairBackupDirectory(const RepairPlan& plan) {
    return QDir(plan.installationRoot)
        .absoluteFilePath(QStringLiteral(".tavorin-backup/") + QString::number(plan.generation));
}

QString temporaryCopyPath(const QString& targetPath) {
    return targetPath + QStringLiteral(".tavorin-new");
}

bool writeRepairJournal(const RepairPlan& plan, const QList<RepairEntry>& entries,
                        FileOperations& files, QString& message) {
    const QDir root(plan.installationRoot);
    QJsonArray array;
    for (const RepairEntry& entry : entries) {
        array.append(QJsonObject{
            {QStringLiteral("target"), entry.target},
            {QStringLiteral("backup"),
             root.relativeFilePath(entry.backupPath).replace(QLatin1Char('\\'), QLatin1Char('/'))},
            {QStringLiteral("hadOriginal"), entry.hadOriginal},
        });
    }
    const QJsonObject document{
        {QStringLiteral("schemaVersion"), 1},
        {QStringLiteral("generation"), plan.generation},
        {QStringLiteral("entries"), array},
    };
    if (!files.writeFile(repairJournalPath(plan.installationRoot),
                         QJsonDocument(document).toJson(QJsonDocument::Compact))) {
        message = QStringLiteral("Could not write the game repair transaction journal.");
        return false;
    }
    return true;
}
