#include "package_checks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <functional>

#include "file_hash.h"
#include "file_operations.h"
#include "native_path.h"
#include "path_rules.h"
#include "release_manifest.h"
#include "symlink_guard.h"

namespace {

constexpr qsizetype kMaxPackageFiles = 20000;
constexpr qint64 kMaxPackageBytes = 2147483648LL;
const QString kPlanFileName = QStringLiteral("launcher-update-plan.json");

// One entry of the staging walk.
struct StagedEntry {
    bool isFile = false;
    qint64 size = -1;
};

// Visits every entry below `directory` (the staged root's `prefix`), files and directories,
// depth first, by handles.
bool walkBelow(const platform::Directory& directory, const QString& prefix,
               const std::function<bool(const StagedEntry&, const QString&)>& visit,
               bool& stopped) {
    std::vector<platform::DirectoryEntry> entries;
    std::uint32_t error = 0;
    // What cannot be listed or entered cannot be vouched for.
    if (!platform::listDirectory(directory, &entries, &error)) {
        return false;
    }
    for (const platform::DirectoryEntry& entry : entries) {
#ifdef Q_OS_WIN
        const QString name = QString::fromStdWString(entry.name);
#else
        const QString name = QFile::decodeName(entry.name.c_str());
#endif
        const QString relative = prefix.isEmpty() ? name : prefix + QLatin1Char('/') + name;
        if (entry.hidden) {
            continue;
        }
        if (entry.type == platform::EntryType::Link || !isSafeRelativePath(relative)) {
            return false;
        }
        const bool isDirectory = entry.type == platform::EntryType::Directory;
        if (entry.type != platform::EntryType::File && !isDirectory) {
            continue;
        }
        if (!visit(StagedEntry{!isDirectory, entry.size}, relative)) {
            stopped = true;
            return true;
        }
        platform::Directory below;
        if (!isDirectory) {
            continue;
        }
        if (!below.openBelow(directory, entry.name, &error)) {
            return false;
        }
        if (!walkBelow(below, relative, visit, stopped)) {
            return false;
        }
        if (stopped) {
            return true;
        }
    }
    return true;
}

// Visits every entry under `stagedRoot`, files and directories, with its relative path ("/"
// separators); false at the first link (the root itself included) or unsafe path. Dangling links
// count too: a link is refused whether its target exists or not. Other entries (FIFOs, devices)
// and hidden ones are passed over, as if not there. The walk goes by handles from the root down,
// so a directory swapped for a link while it runs is never entered; what cannot be opened or
// listed makes it false too.
bool walkStaging(const QString& stagedRoot,
                 const std::function<bool(const StagedEntry&, const QString&)>& visit) {
    if (entryTypeOf(stagedRoot) == platform::EntryType::Link) {
        return false;
    }
    platform::Directory root;
    std::uint32_t error = 0;
    bool stopped = false;
    return root.open(nativeFilePath(QDir::cleanPath(stagedRoot)), &error) &&
           walkBelow(root, QString(), visit, stopped);
}

QSet<QString> foldedSet(const QStringList& paths) {
    QSet<QString> folded;
    for (const QString& path : paths) {
        folded.insert(path.toCaseFolded());
    }
    return folded;
}

}  // namespace

bool scanFullPackage(const QString& stagedRoot, QStringList& packageFiles, QString& message) {
    QStringList found;
    qint64 total = 0;
    QString failure;
    const bool safe =
        walkStaging(stagedRoot, [&](const StagedEntry& entry, const QString& relative) {
            if (!entry.isFile || relative == kReleaseEnvelopeName) {
                return true;
            }
            if (found.size() >= kMaxPackageFiles || entry.size < 0 ||
                entry.size > kMaxPackageBytes - total) {
                failure = QStringLiteral("Launcher update package is too large.");
                return false;
            }
            found.append(relative);
            total += entry.size;
            return true;
        });
    if (!safe) {
        message = QStringLiteral("Launcher update package contains an unsafe path.");
        return false;
    }
    if (!failure.isEmpty()) {
        message = failure;
        return false;
    }
    if (!found.contains(QStringLiteral("ClientLauncher.exe")) ||
        !found.contains(QStringLiteral("LauncherUpdater.exe"))) {
        message = QStringLiteral("Launcher update package is incomplete.");
        return false;
    }
    packageFiles = found;
    return true;
}

bool verifyDeltaStaging(const QString& stagedRoot, const DeltaPlan& plan, FileOperations& files,
                        QString& message) {
    const QSet<QString> replaced = foldedSet(plan.replace);
    QSet<QString> seen;
    bool expected = true;
    const bool safe =
        walkStaging(stagedRoot, [&](const StagedEntry& entry, const QString& relative) {
            if (!entry.isFile || relative == kPlanFileName || relative == kReleaseEnvelopeName) {
                return true;
            }
            const QString folded = relative.toCaseFolded();
            expected = replaced.contains(folded) && !seen.contains(folded);
            seen.insert(folded);
            return expected;
        });
    if (!safe) {
        message = QStringLiteral("Launcher delta staging contains an unsafe path.");
        return false;
    }
    if (!expected) {
        message = QStringLiteral("Launcher delta staging contains an unexpected file.");
        return false;
    }
    if (seen != replaced) {
        message = QStringLiteral("Launcher delta staging is incomplete.");
        return false;
    }
    for (const ManifestFile& file : plan.files) {
        if (replaced.contains(file.path.toCaseFolded()) &&
            !verifyUpdateFile(stagedRoot, file, files, message)) {
            return false;
        }
    }
    return true;
}

bool verifyKeptFiles(const QString& installRoot, const DeltaPlan& plan, FileOperations& files,
                     QString& message) {
    const QSet<QString> replaced = foldedSet(plan.replace);
    for (const ManifestFile& file : plan.files) {
        if (!replaced.contains(file.path.toCaseFolded()) &&
            !verifyUpdateFile(installRoot, file, files, message)) {
            return false;
        }
    }
    return true;
}

bool verifyDeltaResult(const QString& installRoot, const DeltaPlan& plan, FileOperations& files,
                       QString& message) {
    for (const ManifestFile& file : plan.files) {
        if (!verifyUpdateFile(installRoot, file, files, message)) {
            return false;
        }
    }
    for (const QString& removed : plan.remove) {
        // A link, dangling or not, is an entry of its own and no directory.
        const QString path = QDir(installRoot).absoluteFilePath(removed);
        const bool directory = files.isDirectory(path);
        bool stays = !directory && files.exists(path);
        if (directory) {
            // A directory the delta removes may stay only while it holds files of the new
            // launcher.
            const QString prefix = removed.toCaseFolded() + QLatin1Char('/');
            stays = std::none_of(plan.files.cbegin(), plan.files.cend(),
                                 [&prefix](const ManifestFile& file) {
                                     return file.path.toCaseFolded().startsWith(prefix);
                                 });
        }
        if (stays) {
            message = QStringLiteral("Launcher delta did not remove an obsolete file.");
            return false;
        }
    }
    return true;
}

bool verifyUpdateFile(const QString& root, const ManifestFile& file, FileOperations& files,
                      QString& message) {
    if (files.hasLinkAlong(root, file.path)) {
        message = QStringLiteral("Update path contains a symbolic link: %1").arg(file.path);
        return false;
    }
    const QString path = QDir(root).absoluteFilePath(file.path);
    if (files.regularFileSize(path) != file.size) {
        message = QStringLiteral("Update file does not match its declared size: %1").arg(file.path);
        return false;
    }
    QString hashMessage;
    if (!digestsEqual(files.hashSha256(path, hashMessage), file.sha256)) {
        message =
            hashMessage.isEmpty()
                ? QStringLiteral("Update file does not match its declared hash: %1").arg(file.path)
                : hashMessage;
        return false;
    }
    return true;
}
