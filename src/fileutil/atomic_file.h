#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at `path` with `data` in one step, so a reader sees the old or the new file
// in full, before and after a crash or a power cut: the bytes go to a new temporary file beside
// it ("<name>.<12 hex digits>"), are flushed to the disk, and the file is then renamed over
// `path`, after which the directory is flushed too. Temporary files that an interrupted earlier
// save of the same name left behind are removed first. Unlike QSaveFile it never writes through
// a symbolic link standing at `path` (the link itself is replaced), because the directories this
// program writes into are user-writable. Returns false when the file cannot be created, written,
// renamed (for instance when a directory stands at `path`; any earlier file then stays as it
// was) or made durable.
bool saveFileAtomically(const QString& path, const QByteArray& data);

// The parts of a save that work on names alone, for a save done another way: a fresh
// temporary name for `fileName`, and whether `entry` is one an earlier save of it left.
QString temporaryNameFor(const QString& fileName);
bool isTemporaryOf(const QString& entry, const QString& fileName);
