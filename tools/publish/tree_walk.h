#pragma once

#include <QList>
#include <QString>

// One entry of a walked tree: its relative path (forward slashes), whether it is a directory,
// and a file's size.
struct TreeEntry {
    QString path;
    bool directory = false;
    qint64 size = 0;
};

struct TreeRules {
    // A launcher package may not hold hidden entries: the updater's walk of a staged package
    // passes over them, so they would silently not be installed.
    bool refuseHidden = false;
    // At most this many bytes in all files together; -1 for no limit.
    qint64 maxTotalBytes = -1;
};

// The 20000 files the updater takes at most in a manifest, a plan or a package.
constexpr qsizetype kMaxTreeFiles = 20000;

// Lists every file and directory under the existing directory `root`, sorted by path, refusing
// with a message that names the entry whatever the updater would refuse: a symbolic link
// (dangling ones included), a path its rules refuse, an entry that is neither a file nor a
// directory, two names equal after case folding, more than kMaxTreeFiles files, more bytes than
// the rules allow, no file at all; and hidden entries where the rules say so.
bool walkTree(const QString& root, const TreeRules& rules, QList<TreeEntry>& entries,
              QString& message);

// How a path under `root` is named in messages: the root as given, joined, native separators.
QString displayPath(const QString& root, const QString& relativePath);
