#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at `path` with `data` in one step, so a reader sees the old or the new file
// in full: the bytes go to a new temporary file beside it, which is then renamed over `path`.
// Unlike QSaveFile it never writes through a symbolic link standing at `path` (the link itself
// is replaced), because the directories this program writes into are user-writable. Returns
// false, leaving any earlier file as it was, when the file cannot be created, written or
// renamed (for instance when a directory stands at `path`).
bool saveFileAtomically(const QString& path, const QByteArray& data);
