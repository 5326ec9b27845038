#include "capped_read.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include "directory.h"
#include "native_path.h"
#include "platform.h"

bool readFileCapped(const QString& path, qint64 cap, QByteArray& bytes) {
    // The name is opened from its directory and never followed: a link at it is refused.
    const QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    platform::Directory parent;
    platform::SequentialFile file;
    std::int64_t size = -1;
    std::uint32_t error = 0;
    return !path.contains(QChar(0)) && parent.open(nativeFilePath(info.absolutePath()), &error) &&
           platform::entryTypeAt(parent, nativeName(info.fileName()), &size) ==
               platform::EntryType::File &&
           platform::openFileAt(file, parent, nativeName(info.fileName()), &error) &&
           readOpenFileCapped(file, size, cap, bytes);
}

bool readOpenFileCapped(platform::SequentialFile& file, qint64 size, qint64 cap,
                        QByteArray& bytes) {
    if (size <= 0 || size > cap) {
        return false;
    }
    std::uint32_t error = 0;
    // One byte more than the size, so that a file that grew since is caught too.
    QByteArray content(size + 1, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        std::size_t got = 0;
        if (!file.read(content.data() + total, static_cast<std::size_t>(content.size() - total),
                       &got, &error)) {
            return false;
        }
        if (got == 0 || (total += static_cast<qint64>(got)) == content.size()) {
            break;
        }
    }
    if (total != size) {
        return false;
    }
    content.truncate(size);
    bytes = content;
    return true;
}

bool readJsonObject(const QByteArray& bytes, QJsonObject& object) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return false;
    }
    object = document.object();
    return true;
}
