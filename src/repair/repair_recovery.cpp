#include "repair_recovery.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "capped_read.h"
#include "file_operations.h"
#include "path_rules.h"
#include "repair_journal.h"

namespace {

// Recovery must read back every journal a repair writes. A plan of at most 1 MiB and 20000 files
// gives a journal that names each path twice, with about 80 bytes more per entry: under 3.6 MB.
constexpr qint64 kMaxJournalBytes = 4194304;
constexpr qsizetype kMaxEntries = 20000;

bool readJournalEntries(const QString& journalPath, FileOperations& files, QJsonArray& entries,
                        QString& message) {
    QByteArray bytes;
    if (!files.readFile(journalPath, kMaxJournalBytes, bytes)) {
        message = QStringLiteral("An interrupted game repair journal could not be read safely.");
        return false;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    entries = document.object().value(QStringLiteral("entries")).toArray();
    if (error.error != QJsonParseError::NoError || !document.isObject() ||
        document.object().value(QStringLiteral("schemaVersion")).toInt(0) != 1 ||
        entries.isEmpty() || entries.size() > kMaxEntries) {
        message = QStringLiteral("An interrupted game repair journal is invalid.");
        return false;
    }
    return true;
}

bool undoEntry(const QString& root, const QJsonObject& entry, FileOperations& files,
               QString& message) {
    const QString target = entry.value(QStringLiteral("target")).toString();
    const QString backup = entry.value(QStringLiteral("backup")).toString();
    // The journal is the record of what is still to undo: an entry naming it would delete it
    // halfway, and a failure after that could not be taken up again.
    const bool namesJournal =
        target.compare(QFileInfo(repairJournalPath(root)).fileName(), Qt::CaseInsensitive) == 0;
    if (namesJournal || !isSafeRelativePath(target) || !isSafeRelativePath(backup) ||
        !backup.startsWith(QLatin1String(".tavorin-backup/")) || files.hasLinkAlong(root, target) ||
        files.hasLinkAlong(root, backup)) {
        message = QStringLiteral("An interrupted game repair journal contains an unsafe path.");
        return false;
    }
    const QString targetPath = QDir(root).absoluteFilePath(target);
    const QString backupPath = QDir(root).absoluteFilePath(backup);
    const QString copyPath = temporaryCopyPath(targetPath);
    const bool restore = entry.value(QStringLiteral("hadOriginal")).toBool(false);
    if ((files.exists(copyPath) && !files.remove(copyPath)) ||
        (!restore && files.exists(targetPath) && !files.remove(targetPath))) {
        message = QStringLiteral("Could not remove an interrupted game repair file.");
        return false;
    }
    // Without its backup, the original was never moved away, or has been moved back already.
    if (restore && files.exists(backupPath)) {
        if ((files.exists(targetPath) && !files.remove(targetPath)) ||
            !files.makeDirectories(QFileInfo(targetPath).absolutePath()) ||
            !files.rename(backupPath, targetPath)) {
            message = QStringLiteral("Could not restore a file from an interrupted game repair.");
            return false;
        }
    }
    return true;
}

}  // namespace

bool recoverInterruptedRepair(const RepairPlan& plan, FileOperations& files, QString& message) {
    const QString journalPath = repairJournalPath(plan.installationRoot);
    if (!files.exists(journalPath)) {
        return true;
    }
    QJsonArray entries;
    if (!readJournalEntries(journalPath, files, entries, message)) {
        return false;
    }
    for (qsizetype i = entries.size() - 1; i >= 0; --i) {
        if (!undoEntry(plan.installationRoot, entries.at(i).toObject(), files, message)) {
            return false;
        }
    }
    // The undo must be on the disk before the journal that describes it goes.
    if (!files.syncFileSystem(plan.installationRoot) || !files.remove(journalPath)) {
        message = QStringLiteral("Could not clear the recovered game repair journal.");
        return false;
    }
    return true;
}
