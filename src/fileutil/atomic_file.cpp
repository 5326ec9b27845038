#include "atomic_file.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include "native_path.h"
#include "platform.h"

bool saveFileAtomically(const QString& path, const QByteArray& data) {
    const QFileInfo target(path);
    // Created with O_EXCL under a random name, so nothing planted beforehand can be reused.
    QTemporaryFile temporary(target.absoluteFilePath() + QStringLiteral(".XXXXXX"));
    if (!temporary.open() || temporary.write(data) != data.size() || !temporary.flush()) {
        return false;
    }
    // The launcher that reads the file may run as another user than an elevated helper.
    temporary.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                             QFileDevice::ReadGroup | QFileDevice::ReadOther);
    const QString temporaryPath = temporary.fileName();
    temporary.close();
    std::uint32_t error = 0;
    if (!platform::replaceFile(nativeFilePath(temporaryPath), nativeFilePath(path), &error)) {
        return false;
    }
    temporary.setAutoRemove(false);
    return true;
}
