#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace platform {
class SequentialFile;
}

// Reads the whole regular file at `path` into `bytes` when it holds 1 to `cap` bytes. False for
// anything else: a missing or unreadable file, an empty or oversized one, one that changed size
// while read, a directory, FIFO or device, or a symbolic link at `path` (the documents read here
// lie in user-writable directories, and a link would make this process read elsewhere). Sets no
// message: callers word their own.
bool readFileCapped(const QString& path, qint64 cap, QByteArray& bytes);

// The same for a file already open whose size was taken as `size`: its content only when it is
// exactly that size, 1 to `cap` bytes.
bool readOpenFileCapped(platform::SequentialFile& file, qint64 size, qint64 cap, QByteArray& bytes);

// Parses `bytes` as a JSON document whose top level is an object, into `object`. False for a
// parse error or any other top level.
bool readJsonObject(const QByteArray& bytes, QJsonObject& object);
