#include "repair_transaction.h"

#include <QDir>
#include <QFileInfo>

#include "file_hash.h"
#include "file_operations.h"

namespace {

QString parentOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

// The backup path's directories only: a stale entry at the backup path itself, even a link, is
// removed before the original moves there.
QString backupDirectoryOf(const QString& relativeBackupRoot, const QString& target) {
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? relativeBackupRoot
                     : relativeBackupRoot + QLatin1Char('/') + target.left(slash);
}

bool planEntries(const RepairPlan& plan, FileOperations& files, QList<RepairEntry>& planned,
                 QString& message) {
    const QDir root(plan.installationRoot);
    const QString backupRoot = repairBackupDirectory(plan);
    const QString relativeBackupRoot = root.relativeFilePath(backupRoot);
    for (const QString& staged : plan.files) {
        // The installed file is the one the manifest names: a plan spelling it in other letters
        // would otherwise create a second file beside the damaged one where case matters.
        const auto signedFile = plan.manifestFiles.constFind(staged.toCaseFolded());
        const QString target = signedFile == plan.manifestFiles.cend() ? staged : signedFile->path;
        if (files.hasLinkAlong(plan.installationRoot, target) ||
            files.hasLinkAlong(plan.installationRoot,
                               backupDirectoryOf(relativeBackupRoot, target))) {
            message = QStringLiteral("The game installation contains an unsafe symbolic link.");
            return false;
        }
        RepairEntry entry;
        entry.target = target;
        entry.staged = staged;
        entry.targetPath = root.absoluteFilePath(target);
        entry.backupPath = QDir(backupRoot).absoluteFilePath(target);
        entry.hadOriginal = files.exists(entry.targetPath);
        planned.append(entry);
    }
    return true;
}

// Copies the staged file beside its target, checks the copy and moves it into place. On failure
// sets `message` and leaves no copy behind.
bool replaceWithVerifiedCopy(const RepairPlan& plan, const RepairEntry& entry,
                             FileOperations& files, QString& message) {
    const QString copyPath = temporaryCopyPath(entry.targetPath);
    // Left by an interrupted earlier run; the copy below refuses anything still standing there.
    if (files.exists(copyPath)) {
        files.remove(copyPath);
    }
    if (!files.copy(QDir(plan.stagedFilesRoot).absoluteFilePath(entry.staged), copyPath)) {
        message = QStringLiteral("Could not copy a repaired game file into the installation.");
        return false;
    }
    const ManifestFile expected = plan.manifestFiles.value(entry.target.toCaseFolded());
    QString hashMessage;
    if (files.regularFileSize(copyPath) == expected.size &&
        digestsEqual(files.hashSha256(copyPath, hashMessage), expected.sha256) &&
        files.rename(copyPath, entry.targetPath)) {
        return true;
    }
    if (files.exists(copyPath)) {
        files.remove(copyPath);
    }
    message = hashMessage.isEmpty()
                  ? QStringLiteral("A copied game file failed verification before replacement.")
                  : hashMessage;
    return false;
}

bool applyEntries(const RepairPlan& plan, const QList<RepairEntry>& planned,
                  QList<RepairEntry>& applied, FileOperations& files, QString& message) {
    for (const RepairEntry& entry : planned) {
        if (!files.makeDirectories(parentOf(entry.targetPath)) ||
            !files.makeDirectories(parentOf(entry.backupPath)) ||
            (files.exists(entry.backupPath) && !files.remove(entry.backupPath))) {
            message = QStringLiteral("Could not prepare game repair destination directories.");
            return false;
        }
        if (entry.hadOriginal && !files.rename(entry.targetPath, entry.backupPath)) {
            message = QStringLiteral("Could not back up a game file before replacement.");
            return false;
        }
        applied.append(entry);
        if (!replaceWithVerifiedCopy(plan, entry, files, message)) {
            return false;
        }
    }
    return true;
}

}  // namespace

void rollBackRepairEntries(const QList<RepairEntry>& applied, FileOperations& files) {
    for (auto entry = applied.crbegin(); entry != applied.crend(); ++entry) {
        if (files.exists(entry->targetPath)) {
            files.remove(entry->targetPath);
        }
        if (entry->hadOriginal && files.exists(entry->backupPath)) {
            files.makeDirectories(parentOf(entry->targetPath));
            files.rename(entry->backupPath, entry->targetPath);
        }
    }
}

bool applyRepairTransaction(const RepairPlan& plan, FileOperations& files, QString& message) {
    QList<RepairEntry> planned;
    if (!planEntries(plan, files, planned, message)) {
        return false;
    }
    // Recovery has run, so no journal refers to anything in the backups: whatever stands there
    // was left by a run that died after its commit, and must never be restored over a good file
    // should this run be undone. Their removal is durable before the journal that could use them.
    const QString backups =
        QDir(plan.installationRoot).absoluteFilePath(QStringLiteral(".tavorin-backup"));
    if ((files.isDirectory(backups) &&
         (!files.removeTree(backups) || !files.flushDirectory(plan.installationRoot))) ||
        !files.makeDirectories(repairBackupDirectory(plan))) {
        message = QStringLiteral("Could not create the game repair backup directory.");
        return false;
    }
    if (!writeRepairJournal(plan, planned, files, message)) {
        return false;
    }
    QList<RepairEntry> applied;
    if (!applyEntries(plan, planned, applied, files, message)) {
        rollBackRepairEntries(applied, files);
        return false;
    }
    // Every new file and name must be on the disk before the journal that could undo them goes.
    const QString journalPath = repairJournalPath(plan.installationRoot);
    if (!files.syncFileSystem(plan.installationRoot)) {
        rollBackRepairEntries(applied, files);
        message = QStringLiteral("Could not complete the game repair transaction safely.");
        return false;
    }
    if (!files.remove(journalPath)) {
        rollBackRepairEntries(applied, files);
        if (files.exists(journalPath)) {
            files.remove(journalPath);
        }
        message = QStringLiteral("Could not complete the game repair transaction safely.");
        return false;
    }
    // Committed. Should the journal's removal not reach the disk, a power cut would bring it back
    // and recovery would need the backups: they stay, until the next repair commits.
    if (files.flushDirectory(plan.installationRoot)) {
        files.removeTree(backups);
    }
    return true;
}
