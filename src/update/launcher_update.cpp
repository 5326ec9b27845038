#include "launcher_update.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QUuid>

#include "file_hash.h"
#include "file_operations.h"
#include "installation_lock.h"
#include "launcher_start.h"
#include "native_path.h"
#include "package_checks.h"
#include "retrying_file_operations.h"
#include "rooted_file_operations.h"
#include "update_checks.h"

namespace {

const QString kWorkParent = QStringLiteral(".tavorin-update");
const QString kUnsafeLink =
    QStringLiteral("Launcher installation contains an unsafe symbolic link.");

QString directoryOf(const QString& relativePath) {
    const qsizetype slash = relativePath.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : relativePath.left(slash);
}

QString joined(const QString& first, const QString& second) {
    return second.isEmpty() ? first : first + QLatin1Char('/') + second;
}

bool checkPaths(const UpdateRequest& request, QString& message) {
    const QFileInfo install(request.installRoot);
    const QFileInfo staged(request.stagedRoot);
    if (!install.isDir() || !staged.isDir()) {
        message = QStringLiteral("Launcher update paths are invalid.");
        return false;
    }
    if (isSamePath(request.installRoot, request.stagedRoot)) {
        message = QStringLiteral("Launcher update staging must be separate from the installation.");
        return false;
    }
    return true;
}

bool removePathIfPresent(const QString& path, FileOperations& files) {
    if (!files.exists(path)) {
        return true;
    }
    return files.isDirectory(path) ? files.removeTree(path) : files.remove(path);
}

bool movePath(const QString& from, const QString& to, FileOperations& files) {
    files.makeDirectories(QFileInfo(to).absolutePath());
    return files.rename(from, to);
}

QString directoryBelow(const QString& root) {
    return QDir::cleanPath(QFileInfo(root).absoluteFilePath()) + QLatin1Char('/');
}

// Removes the directories above `path` that are empty, deepest first, up to but not including
// `root`, and never a directory that is not below it. Returns those it removed.
QStringList removeEmptyParentDirectories(const QString& path, const QString& root,
                                         FileOperations& files) {
    const QString below = directoryBelow(root);
    QStringList removed;
    QString directory = QDir::cleanPath(QFileInfo(path).absolutePath());
    while (directory.startsWith(below, Qt::CaseInsensitive) && files.removeDirectory(directory)) {
        removed.append(directory);
        directory = QFileInfo(directory).absolutePath();
    }
    return removed;
}

// The directories above `path` that do not exist yet, below `root`, deepest first.
QStringList missingParentDirectories(const QString& path, const QString& root,
                                     FileOperations& files) {
    const QString below = directoryBelow(root);
    QStringList missing;
    QString directory = QDir::cleanPath(QFileInfo(path).absolutePath());
    while (directory.startsWith(below, Qt::CaseInsensitive) && !files.exists(directory)) {
        missing.append(directory);
        directory = QFileInfo(directory).absolutePath();
    }
    return missing;
}

// One update run: its work directory, its entries, and the steps that change the installation.
class UpdateRun {
public:
    UpdateRun(const UpdateRequest& request, FileOperations& files)
        : request_(request),
          files_(files),
          workRelative_(kWorkParent + QLatin1Char('/') +
                        QUuid::createUuid().toString(QUuid::WithoutBraces)),
          workDirectory_(QDir(request.installRoot).absoluteFilePath(workRelative_)),
          backupDirectory_(workDirectory_ + QStringLiteral("/backup")),
          journalPath_(workDirectory_ + QStringLiteral("/journal.json")) {}

    bool prepare(QString& message) {
        // The work directory lies in a directory others may write to: a link planted at its
        // parent would carry the originals out of the installation.
        if (files_.hasLinkAlong(request_.installRoot, kWorkParent)) {
            message = kUnsafeLink;
            return false;
        }
        // The journal must be found after a power cut, so the new directories' names are made
        // durable too; the journal's own name is flushed with it.
        if (!files_.makeDirectories(backupDirectory_) ||
            !files_.flushDirectory(QFileInfo(workDirectory_).absolutePath()) ||
            !files_.flushDirectory(request_.installRoot)) {
            message = QStringLiteral("Could not create the launcher update backup directory.");
            return false;
        }
        return journal("applying", message);
    }

    // One journal version names every path before the first changes, so that what the run does
    // costs no more journal than what it touches; an entry the run never reaches is a no-op to
    // whoever undoes it (no backup, and nothing new at its target).
    bool apply(const UpdateWork& work, QString& message) {
        digests_ = work.digests;
        if (!writeUpdateJournal(journalPath_, QStringLiteral("applying"), plannedEntries(work),
                                files_, message)) {
            return false;
        }
        for (const QString& path : work.remove) {
            if (!applyPath(path, false, message)) {
                return false;
            }
        }
        for (const QString& path : work.replace) {
            if (!applyPath(path, true, message)) {
                return false;
            }
        }
        return true;
    }

    // Everything installed is on the disk before the journal says so and the launcher starts.
    bool awaitStart(QString& message) {
        if (!files_.syncFileSystem(request_.installRoot)) {
            message = QStringLiteral("Could not complete the launcher update safely.");
            return false;
        }
        return journal("awaiting-start", message);
    }

    void complete() {
        QString ignored;
        journal("completed", ignored);
        files_.removeTree(workDirectory_);
    }

    void rollBack() { rollBackUpdateEntries(entries_, request_.installRoot, files_); }

    void rollBackAfterFailedStart() {
        rollBack();
        QString ignored;
        files_.syncFileSystem(request_.installRoot);
        journal("rolled-back", ignored);
    }

private:
    bool journal(const char* phase, QString& message) {
        return writeUpdateJournal(journalPath_, QLatin1String(phase), entries_, files_, message);
    }

    UpdateEntry makeEntry(const QString& path, bool replacement) const {
        UpdateEntry entry;
        entry.path = path;
        entry.targetPath = QDir(request_.installRoot).absoluteFilePath(path);
        entry.backupPath = QDir(backupDirectory_).absoluteFilePath(path);
        entry.hadOriginal = files_.exists(entry.targetPath);
        entry.replacement = replacement;
        return entry;
    }

    // Every path of the work order as the run will find it: an original under a path that an
    // earlier step takes away (a directory removed whole) will be gone by then.
    QList<UpdateEntry> plannedEntries(const UpdateWork& work) const {
        QList<UpdateEntry> planned;
        QSet<QString> earlier;
        const auto key = [](const QString& path) {
            return kFileNameCase == Qt::CaseSensitive ? path : path.toCaseFolded();
        };
        const auto plan = [&](const QString& path, bool replacement) {
            UpdateEntry entry = makeEntry(path, replacement);
            const QString folded = key(path);
            for (qsizetype slash = folded.indexOf(QLatin1Char('/')); entry.hadOriginal && slash > 0;
                 slash = folded.indexOf(QLatin1Char('/'), slash + 1)) {
                entry.hadOriginal = !earlier.contains(folded.left(slash));
            }
            earlier.insert(folded);
            planned.append(entry);
        };
        for (const QString& path : work.remove) {
            plan(path, false);
        }
        for (const QString& path : work.replace) {
            plan(path, true);
        }
        return planned;
    }

    // A path step failed: the journal goes back to the paths begun so far, which is what would
    // stand there had it been written after each path, and everything is undone. Should that
    // write fail, the full list stays, and is still true.
    // `dropLast`: the last path's original never moved, so the rollback leaves it alone.
    bool fail(QString& message, const QString& reason, bool dropLast = false) {
        QString ignored;
        writeUpdateJournal(journalPath_, QStringLiteral("applying"), entries_, files_, ignored);
        if (dropLast) {
            entries_.removeLast();
        }
        rollBack();
        message = reason;
        return false;
    }

    bool applyPath(const QString& path, bool replacement, QString& message) {
        if (files_.hasLinkAlong(request_.installRoot, path) ||
            files_.hasLinkAlong(
                request_.installRoot,
                joined(workRelative_ + QStringLiteral("/backup"), directoryOf(path)))) {
            return fail(message, kUnsafeLink);
        }
        entries_.append(makeEntry(path, replacement));
        UpdateEntry& entry = entries_.last();
        stepError_ = 0;
        if (entry.hadOriginal && !noted(movePath(entry.targetPath, entry.backupPath, files_))) {
            return fail(message, pathFailure(QStringLiteral("back up"), path), true);
        }
        if (!replacement) {
            entry.prunedDirectories =
                removeEmptyParentDirectories(entry.targetPath, request_.installRoot, files_);
        } else if (!install(entry)) {
            return fail(message, pathFailure(QStringLiteral("install"), path));
        }
        return true;
    }

    // Keeps the Windows error of a call that failed, for the message of its path.
    bool noted(bool done) {
        if (!done) {
            stepError_ = files_.lastError();
        }
        return done;
    }

    QString pathFailure(const QString& step, const QString& path) const {
        return stepError_ == 0 ? QStringLiteral("Could not %1 %2.").arg(step, path)
                               : QStringLiteral("Could not %1 %2 (Windows error %3).")
                                     .arg(step, path, QString::number(stepError_));
    }

    bool install(UpdateEntry& entry) {
        const QString copyPath = entry.targetPath + QStringLiteral(".tavorin-new");
        entry.createdDirectories =
            missingParentDirectories(entry.targetPath, request_.installRoot, files_);
        files_.makeDirectories(QFileInfo(entry.targetPath).absolutePath());
        // Left by an earlier run; whatever it is, it goes as an entry.
        removePathIfPresent(copyPath, files_);
        // The staging was checked before the first change; a link swapped in since would make
        // this elevated process copy a file its user may not read, and any file swapped in
        // since must not go into place: what is installed is what was measured or signed.
        if (!files_.hasLinkAlong(request_.stagedRoot, entry.path) &&
            noted(files_.copy(QDir(request_.stagedRoot).absoluteFilePath(entry.path), copyPath)) &&
            copyIsAsExpected(entry.path, copyPath) &&
            noted(files_.rename(copyPath, entry.targetPath))) {
            return true;
        }
        removePathIfPresent(copyPath, files_);
        return false;
    }

    // Only an unsigned full package comes without digests; otherwise every path has one, and a
    // path without one is not installed.
    bool copyIsAsExpected(const QString& path, const QString& copyPath) {
        const auto digest = digests_.constFind(path);
        QString ignored;
        return digests_.isEmpty() || (digest != digests_.cend() &&
                                      digestsEqual(files_.hashSha256(copyPath, ignored), *digest));
    }

    const UpdateRequest& request_;
    FileOperations& files_;
    const QString workRelative_;
    const QString workDirectory_;
    const QString backupDirectory_;
    const QString journalPath_;
    QList<UpdateEntry> entries_;
    QHash<QString, QByteArray> digests_;
    std::uint32_t stepError_ = 0;  // why the current path's step failed; 0: no error given
};

}  // namespace

void rollBackUpdateEntries(const QList<UpdateEntry>& entries, const QString& installRoot,
                           FileOperations& files) {
    for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry) {
        // A directory swapped for a link since the entry was made would turn the removal below
        // into one outside the installation.
        if (files.hasLinkAlong(installRoot, directoryOf(entry->path))) {
            continue;
        }
        removePathIfPresent(entry->targetPath, files);
        for (const QString& directory : entry->createdDirectories) {
            if (!files.removeDirectory(directory)) {
                break;
            }
        }
        if (!entry->prunedDirectories.isEmpty()) {
            files.makeDirectories(entry->prunedDirectories.first());
        }
        if (entry->hadOriginal) {
            movePath(entry->backupPath, entry->targetPath, files);
        }
    }
}

bool applyLauncherUpdate(const UpdateRequest& request, const SignatureVerifier& verifier,
                         FileOperations& files, const LauncherStart& startLauncher,
                         QString& message) {
    UpdateWork work;
    // Held to the end, the launcher's start included: no other run may read this installation
    // as it is halfway through.
    InstallationLock lock;
    if (!checkPaths(request, message) || !lock.acquire(request.installRoot, files, message) ||
        !checkUpdatePackage(request, verifier, files, work, message)) {
        return false;
    }
    UpdateRun run(request, files);
    if (!run.prepare(message) || !run.apply(work, message)) {
        return false;
    }
    if (work.delta && !verifyDeltaResult(request.installRoot, work.plan, files, message)) {
        run.rollBack();
        return false;
    }
    if (!run.awaitStart(message)) {
        run.rollBack();
        return false;
    }
    if (!startLauncher(
            QDir(request.installRoot).absoluteFilePath(QStringLiteral("ClientLauncher.exe")),
            request.ackPath)) {
        run.rollBackAfterFailedStart();
        message = QStringLiteral("The updated launcher did not start successfully.");
        return false;
    }
    run.complete();
    return true;
}

bool applyLauncherUpdate(const UpdateRequest& request, const SignatureVerifier& verifier,
                         QString& message) {
    // The run works only below the installation and the staging, each held open.
    RootedFileOperations rooted({request.installRoot, request.stagedRoot});
    RetryingFileOperations files(rooted);
    // A copy elevated on the launcher's behalf hands the new launcher back the user's rights.
    const bool asDesktopUser = request.elevated;
    const LauncherStart start = [asDesktopUser](const QString& launcher, const QString& ack) {
        return startUpdatedLauncher(launcher, ack, asDesktopUser);
    };
    return applyLauncherUpdate(request, verifier, files, start, message);
}
