#include "path_rules.h"

#include <QDir>
#include <QStringList>

namespace {

constexpr int kMaxRelativePathLength = 1024;

const QStringList& reservedDeviceNames() {
    static const QStringList names = {
        QStringLiteral("CON"),  QStringLiteral("PRN"),  QStringLiteral("AUX"),
        QStringLiteral("NUL"),  QStringLiteral("COM1"), QStringLiteral("COM2"),
        QStringLiteral("COM3"), QStringLiteral("COM4"), QStringLiteral("COM5"),
        QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8"),
        QStringLiteral("COM9"), QStringLiteral("LPT1"), QStringLiteral("LPT2"),
        QStringLiteral("LPT3"), QStringLiteral("LPT4"), QStringLiteral("LPT5"),
        QStringLiteral("LPT6"), QStringLiteral("LPT7"), QStringLiteral("LPT8"),
        QStringLiteral("LPT9"),
    };
    return names;
}

}  // namespace

bool isReservedPathSegment(const QString& segment) {
    // Windows maps a device name to the device whatever extension follows it.
    const QString base = segment.left(segment.indexOf(QLatin1Char('.')));
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
    if (path.contains(QLatin1Char('\\')) || path.startsWith(QLatin1Char('/')) ||
        path.contains(QLatin1Char(':'))) {
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
