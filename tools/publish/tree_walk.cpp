#include "tree_walk.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>
#include <algorithm>

#include "path_rules.h"
#include "symlink_guard.h"

namespace {

// What Windows refuses in a name (error 123) beyond the updater's own path rules.
bool isWindowsFileName(const QString& path) {
    return std::none_of(path.cbegin(), path.cend(), [](QChar c) {
        return c.unicode() < 0x20 || QStringLiteral("<>\"|?*").contains(c);
    });
}

}  // namespace

QString displayPath(const QString& root, const QString& relativePath) {
    return QDir::toNativeSeparators(QDir(root).filePath(relativePath));
}

bool walkTree(const QString& root, const TreeRules& rules, QList<TreeEntry>& entries,
              QString& message) {
    const QFileInfo rootInfo(root);
    if (!rootInfo.isDir()) {
        message = QStringLiteral("%1 is not a directory.").arg(QDir::toNativeSeparators(root));
        return false;
    }
    // A link at the root itself is the caller's choice of directory; only what lies inside is
    // judged by the updater's rules.
    const QString walked = rootInfo.canonicalFilePath();
    const QDir walkedDirectory(walked);
    QList<TreeEntry> found;
    QSet<QString> folded;
    qsizetype files = 0;
    qint64 totalBytes = 0;
    // Hidden and system entries are listed too: Qt counts a dangling link as a system entry.
    QDirIterator walk(walked, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                      QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QFileInfo info = walk.nextFileInfo();
        TreeEntry entry;
        entry.path = walkedDirectory.relativeFilePath(info.filePath());
        entry.path.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const QString shown = displayPath(root, entry.path);
        if (!isSafeRelativePath(entry.path)) {
            message = QStringLiteral(
                          "%1 has a name the updater refuses (a Windows device name, "
                          "a trailing dot or space, a colon or a backslash).")
                          .arg(shown);
            return false;
        }
        if (!isWindowsFileName(entry.path)) {
            message = QStringLiteral(
                          "%1 has a name Windows cannot hold (one of < > \" | ? * or a control "
                          "character).")
                          .arg(shown);
            return false;
        }
        // The entry as the updater sees it: a link is told by the OS layer (on Windows a name
        // surrogate; a ".lnk" file is a file like any other), never followed.
        qint64 size = -1;
        const platform::EntryType type = entryTypeOf(info.filePath(), &size);
        if (type == platform::EntryType::Link || hasSymbolicLinkAlong(walked, entry.path)) {
            message =
                QStringLiteral("%1 is a symbolic link, which the updater refuses.").arg(shown);
            return false;
        }
        if (rules.refuseHidden && info.isHidden()) {
            message = QStringLiteral(
                          "%1 is hidden, and the updater leaves hidden entries out of a "
                          "launcher package.")
                          .arg(shown);
            return false;
        }
        if (type != platform::EntryType::Directory && type != platform::EntryType::File) {
            message = QStringLiteral("%1 is neither a regular file nor a directory.").arg(shown);
            return false;
        }
        const QString key = entry.path.toCaseFolded();
        if (folded.contains(key)) {
            message = QStringLiteral(
                          "%1 differs from another name only in letter case, and the "
                          "updater takes them for the same file.")
                          .arg(shown);
            return false;
        }
        folded.insert(key);
        entry.directory = type == platform::EntryType::Directory;
        if (!entry.directory) {
            entry.size = size;
            if (++files > kMaxTreeFiles) {
                message = QStringLiteral("%1 holds more than %2 files, the most the updater takes.")
                              .arg(QDir::toNativeSeparators(root))
                              .arg(kMaxTreeFiles);
                return false;
            }
            totalBytes += entry.size;
            if (rules.maxTotalBytes >= 0 && totalBytes > rules.maxTotalBytes) {
                message = QStringLiteral("%1 holds more than %2 bytes, the most the updater takes.")
                              .arg(QDir::toNativeSeparators(root))
                              .arg(rules.maxTotalBytes);
                return false;
            }
        }
        found.append(entry);
    }
    if (files == 0) {
        message = QStringLiteral("%1 holds no files.").arg(QDir::toNativeSeparators(root));
        return false;
    }
    std::sort(found.begin(), found.end(),
              [](const TreeEntry& a, const TreeEntry& b) { return a.path < b.path; });
    entries = found;
    return true;
}
