#include "native_path.h"

#include <QDir>
#include <QFile>

namespace {

constexpr int kMaxShortPathLength = 259;
const QLatin1String kLongPathPrefix("\\\\?\\");

// QDir::cleanPath keeps a leading "//" only on Windows; the UNC marker must survive on every
// host, so it is taken off before cleaning and put back after.
QString cleanWindowsPath(const QString& path) {
    QString slashed = path;
    slashed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const bool unc = slashed.startsWith(QLatin1String("//"));
    QString cleaned = QDir::cleanPath(unc ? slashed.mid(1) : slashed);
    if (unc) {
        cleaned.prepend(QLatin1Char('/'));
    }
    return cleaned.replace(QLatin1Char('/'), QLatin1Char('\\'));
}

}  // namespace

QString toWindowsLongPath(const QString& path) {
    QString native = cleanWindowsPath(path);
    if (native.size() <= kMaxShortPathLength || native.startsWith(kLongPathPrefix)) {
        return native;
    }
    if (native.startsWith(QLatin1String("\\\\"))) {
        return QLatin1String("\\\\?\\UNC\\") + native.mid(2);
    }
    return kLongPathPrefix + native;
}

platform::NativeString nativeFilePath(const QString& path) {
    // The system would read the name only up to the NUL; the empty name is refused by every
    // call of the OS layer instead.
    if (path.contains(QChar(0))) {
        return {};
    }
#ifdef _WIN32
    return toWindowsLongPath(path).toStdWString();
#else
    return QFile::encodeName(QDir::cleanPath(path)).toStdString();
#endif
}

platform::NativeString nativeArgument(const QString& text) {
#ifdef _WIN32
    return text.toStdWString();
#else
    // The inverse of how the arguments were read, so that they go on byte for byte.
    return QFile::encodeName(text).toStdString();
#endif
}
