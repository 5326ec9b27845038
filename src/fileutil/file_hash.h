#pragma once

#include <QByteArray>
#include <QString>

// SHA-256 of the whole file at `path` (any length; either kind of separator), as 32 raw bytes.
// On failure returns an empty array and sets `message` to one sentence naming the file and the
// Windows error or hash status; on success `message` is left untouched. Callers compare the size
// first, clear `message`, then hash: a mismatching digest with an empty message means the
// content differs, with a message it means the file could not be hashed.
QByteArray hashFileSha256(const QString& path, QString& message);

namespace platform {
class SequentialFile;
}

// The same for a file already open, read to its end; `path` only names it in messages.
QByteArray hashOpenFileSha256(platform::SequentialFile& file, const QString& path,
                              QString& message);

// Plain byte comparison (not constant time: digests of public files are not secrets).
bool digestsEqual(const QByteArray& a, const QByteArray& b);
