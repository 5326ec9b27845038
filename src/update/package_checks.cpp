#include "package_checks.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <functional>

#include "file_hash.h"
#include "file_operations.h"
#include "path_rules.h"
#include "release_manifest.h"

namespace {

constexpr qsizetype kMaxPackageFiles = 20000;
constexpr qint64 kMaxPackageBytes = 2147483648LL;
const QString kPlanFileName = QStringLiteral("launcher-update-plan.json");

bool isLink(const QFileInfo& info) {
    return info.isSymLink() || info.isJunction();
}

// Visits every entry under `stagedRoot`, files and directories, with its relative path ("/"
// separators); false at the first link (the root itself included) or unsafe path. Dangling links
// are listed too (as system entries): a link is refused whether its target exists or not. Other
// system entries (FIFOs, devices) and hidden ones are passed over, as if not there.
bool walkStaging(const QString& stagedRoot,
                 const std::function<bool(const QFileInfo&, const QString&)>& visit) {
    if (isLink(QFileInfo(QDir::cleanPath(stagedRoot)))) {
        return false;
    }
    const QDir root(stagedRoot);
    QDirIterator it(stagedRoot, QDir::Dirs | QDir::Files | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative =
            root.relativeFilePath(info.filePath()).replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (isLink(info) || !isSafeRelativePath(relative)) {
            return false;
        }
        if ((info.isFile() || info.isDir()) && !visit(info, relative)) {
            return true;
        }
    }
    return true;
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
    const bool safe = walkStaging(stagedRoot, [&](const QFileInfo& info, const QString& relative) {
        if (!info.isFile() || relative == kReleaseEnvelopeName) {
            return true;
        }
        if (found.size() >= kMaxPackageFiles || info.size() < 0 ||
            info.size() > kMaxPackageBytes - total) {
            failure = QStringLiteral("Launcher update package is too large.");
            return false;
        }
        found.append(relative);
        total += info.size();
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
    const bool safe = walkStaging(stagedRoot, [&](const QFileInfo& info, const QString& relative) {
        if (!info.isFile() || relative == kPlanFileName || relative == kReleaseEnvelopeName) {
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
        const QFileInfo info(QDir(installRoot).absoluteFilePath(removed));
        bool stays = isLink(info) || (info.exists() && !info.isDir());
        if (!stays && info.isDir()) {
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
