#include "path_rules.h"

#include <QDir>
#include <QStringList>

namespace {

constexpr int kMaxRelativePathLength = 1024;

const QStringList& reservedDeviceNames() {
    // The superscript digits are ports too: Windows folds them to 1, 2 and 3.
    static const QStringList names = {
        QStringLiteral("CON"),       QStringLiteral("PRN"),       QStringLiteral("AUX"),
        QStringLiteral("NUL"),       QStringLiteral("CONIN$"),    QStringLiteral("CONOUT$"),
        QStringLiteral("COM1"),      QStringLiteral("COM2"),      QStringLiteral("COM3"),
        QStringLiteral("COM4"),      QStringLiteral("COM5"),      QStringLiteral("COM6"),
        QStringLiteral("COM7"),      QStringLiteral("COM8"),      QStringLiteral("COM9"),
        QStringLiteral("COM\u00b9"), QStringLiteral("COM\u00b2"), QStringLiteral("COM\u00b3"),
        QStringLiteral("LPT1"),      QStringLiteral("LPT2"),      QStringLiteral("LPT3"),
        QStringLiteral("LPT4"),      QStringLiteral("LPT5"),      QStringLiteral("LPT6"),
        QStringLiteral("LPT7"),      QStringLiteral("LPT8"),      QStringLiteral("LPT9"),
        QStringLiteral("LPT\u00b9"), QStringLiteral("LPT\u00b2"), QStringLiteral("LPT\u00b3"),
    };
    return names;
}

}  // namespace

bool isReservedPathSegment(const QString& segment) {
    // Windows maps a device name to the device whatever extension follows it, and it drops the
    // spaces between the name and the extension first ("con .txt" is the console).
    QString base = segment.left(segment.indexOf(QLatin1Char('.')));
    while (base.endsWith(QLatin1Char(' '))) {
        base.chop(1);
    }
    if (reservedDeviceNames().contains(base.toUpper())) {
        return true;
    }
    // Windows silently strips trailing spaces and dots, so such a name would alias another.
    return segment.endsWith(QLatin1Char(' ')) || segment.endsWith(QLatin1Char('.'));
}

bool isSafeRelativePath(const QString& path) {
    if (path.isEmpty() || path.size() > kMaxRelativePathLength) {
        return false;
    }
    // A NUL ends the name where the system reads it, so the file opened would not be the one
    // whose path was checked.
    if (path.contains(QLatin1Char('\\')) || path.startsWith(QLatin1Char('/')) ||
        path.contains(QLatin1Char(':')) || path.contains(QChar(0))) {
        return false;
    }
    if (QDir::cleanPath(path) != path) {
        return false;
    }
    // Cleaning leaves a lone "." or ".." and leading ".." segments alone.
    const QStringList segments = path.split(QLatin1Char('/'));
    for (const QString& segment : segments) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String("..") ||
            isReservedPathSegment(segment)) {
            return false;
        }
    }
    return true;
}
