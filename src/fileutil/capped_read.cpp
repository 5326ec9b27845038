#include "capped_read.h"

#include <QFileInfo>
#include <QJsonDocument>

#include "native_path.h"
#include "platform.h"

bool readFileCapped(const QString& path, qint64 cap, QByteArray& bytes) {
    const QFileInfo info(path);
    if (info.isSymLink() || info.isJunction()) {
        return false;
    }
    platform::SequentialFile file;
    std::uint32_t error = 0;
    if (!file.open(nativeFilePath(path), &error)) {
        return false;
    }
    return readOpenFileCapped(file, info.size(), cap, bytes);
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
