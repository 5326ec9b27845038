#include "atomic_file.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include "native_path.h"
#include "platform.h"

namespace {

constexpr int kTemporarySuffixLength = 12;

// A save that was interrupted (a crash, a power cut) leaves its temporary file; the next save
// of the same file clears them, so they cannot pile up beside it. Only the entries themselves
// go: a link is removed, never followed.
void removeStaleTemporaries(const QDir& directory, const QString& fileName) {
    const QStringList entries =
        directory.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (isTemporaryOf(entry, fileName)) {
            std::uint32_t error = 0;
            platform::deleteFile(nativeFilePath(directory.absoluteFilePath(entry)), &error);
        }
    }
}

}  // namespace

QString temporaryNameFor(const QString& fileName) {
    return fileName + QLatin1Char('.') +
           QUuid::createUuid().toString(QUuid::Id128).left(kTemporarySuffixLength);
}

bool isTemporaryOf(const QString& entry, const QString& fileName) {
    if (entry.size() != fileName.size() + 1 + kTemporarySuffixLength ||
        !entry.startsWith(fileName + QLatin1Char('.'))) {
        return false;
    }
    for (const QChar c : entry.right(kTemporarySuffixLength)) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f')))) {
            return false;
        }
    }
    return true;
}

bool saveFileAtomically(const QString& path, const QByteArray& data) {
    const QFileInfo target(path);
    const QDir directory = target.absoluteDir();
    removeStaleTemporaries(directory, target.fileName());
    // A fresh random name, created only if nothing stands there (no link is followed), so that
    // nothing planted beforehand can receive the bytes. The bytes are on the disk before the
    // rename, so that a power cut cannot leave the name holding an empty or partial file.
    const platform::NativeString temporary = nativeFilePath(
        target.absolutePath() + QLatin1Char('/') + temporaryNameFor(target.fileName()));
    std::uint32_t error = 0;
    if (!platform::writeNewFile(temporary, data.constData(), static_cast<std::size_t>(data.size()),
                                &error)) {
        return false;
    }
    if (!platform::replaceFile(temporary, nativeFilePath(path), &error)) {
        platform::deleteFile(temporary, &error);
        return false;
    }
    // The new name itself lives in the directory.
    return platform::flushDirectory(nativeFilePath(directory.absolutePath()), &error);
}
