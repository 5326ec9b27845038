#include "native_path.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// CreateDirectoryW takes 248 units at most (MAX_PATH less room for an 8.3 file name); other
// calls 259. One limit for all, so that a directory is never the one call that fails.
constexpr int kMaxShortPathLength = 247;
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

bool isSamePath(const QString& a, const QString& b) {
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath())
               .compare(QDir::cleanPath(QFileInfo(b).absoluteFilePath()), kFileNameCase) == 0;
}

bool isFullyQualifiedWindowsPath(const QString& path) {
    const auto separator = [](QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); };
    return (path.size() >= 3 && path.at(0).isLetter() && path.at(1) == QLatin1Char(':') &&
            separator(path.at(2))) ||
           (path.size() >= 2 && separator(path.at(0)) && separator(path.at(1)));
}

QString toWindowsLongPath(const QString& path) {
    QString native = cleanWindowsPath(path);
    // \\?\ turns off the system's own resolution, of the current directory included.
    if (native.size() <= kMaxShortPathLength || native.startsWith(kLongPathPrefix) ||
        !isFullyQualifiedWindowsPath(native)) {
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
    // Made absolute the way the system would, before any prefix, as Qt does.
    if (!isFullyQualifiedWindowsPath(path)) {
        return toWindowsLongPath(QString::fromStdWString(platform::absolutePath(
                                     QDir::toNativeSeparators(path).toStdWString())))
            .toStdWString();
    }
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
