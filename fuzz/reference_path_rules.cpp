// The path rules written a second time, from their description alone and as plainly as can be,
// without path cleaning. The path_rules target checks that both give the same answer for every
// input.
#include <QStringList>

namespace reference {

bool isReservedPathSegment(const QString& segment) {
    static const QStringList devices = [] {
        QStringList names = {QStringLiteral("CON"),    QStringLiteral("PRN"),
                             QStringLiteral("AUX"),    QStringLiteral("NUL"),
                             QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
        for (const QChar digit : QStringLiteral("123456789\u00b9\u00b2\u00b3")) {
            names << QStringLiteral("COM") + digit << QStringLiteral("LPT") + digit;
        }
        return names;
    }();
    if (segment.endsWith(QLatin1Char(' ')) || segment.endsWith(QLatin1Char('.'))) {
        return true;
    }
    // The name before the first dot, without the spaces that end it, one character at a time
    // in upper case.
    QString base = segment.left(segment.indexOf(QLatin1Char('.')));
    while (base.endsWith(QLatin1Char(' '))) {
        base.chop(1);
    }
    for (QChar& c : base) {
        c = c.toUpper();
    }
    return devices.contains(base);
}

bool isSafeRelativePath(const QString& path) {
    if (path.isEmpty() || path.size() > 1024 || path.contains(QLatin1Char('\\')) ||
        path.contains(QLatin1Char(':')) || path.contains(QChar(0))) {
        return false;
    }
    for (const QString& segment : path.split(QLatin1Char('/'))) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String("..") ||
            isReservedPathSegment(segment)) {
            return false;
        }
    }
    return true;
}

}  // namespace reference
