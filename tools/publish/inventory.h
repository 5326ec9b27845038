#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include "manifest_file.h"
#include "tree_walk.h"

// The files among `entries` (from walkTree under `root`) with their size and SHA-256, hashed as
// the updater hashes, in order, with progress on a terminal. False with the hashing failure's
// message, or when a file changed size since the walk.
bool hashTreeFiles(const QString& root, const QList<TreeEntry>& entries, QList<ManifestFile>& files,
                   QString& message);

// One inventory element as the updater reads it: {"path", "sha256" (64 lowercase hexadecimal
// digits), "size"}.
QJsonObject manifestFileJson(const ManifestFile& file);

// The entries and the documents' relative paths compared as the updater compares them.
inline QString foldedPath(const QString& path) {
    return path.toCaseFolded();
}
