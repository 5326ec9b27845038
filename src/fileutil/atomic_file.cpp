#include "atomic_file.h"

#include <QFile>
#include <QUuid>

#include "native_path.h"
#include "platform.h"

bool saveFileAtomically(const QString& path, const QByteArray& data) {
    // A fresh random name, created only if nothing stands there (no link is followed), so that
    // nothing planted beforehand can receive the bytes. Not QTemporaryFile: on Windows it keeps
    // its handle open after close(), and the rename below then fails with a sharing violation.
    const QString temporaryPath =
        path + QLatin1Char('.') + QUuid::createUuid().toString(QUuid::Id128).left(12);
    QFile temporary(temporaryPath);
    if (!temporary.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return false;
    }
    const bool written = temporary.write(data) == data.size() && temporary.flush();
    temporary.close();
    std::uint32_t error = 0;
    if (!written || temporary.error() != QFileDevice::NoError ||
        !platform::replaceFile(nativeFilePath(temporaryPath), nativeFilePath(path), &error)) {
        QFile::remove(temporaryPath);
        return false;
    }
    return true;
}
