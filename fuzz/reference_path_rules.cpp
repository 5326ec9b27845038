#include "reference_path_rules.h"

#include <QStringList>

namespace reference {

namespace {

QStringList deviceNames() {
    QStringList names = {QStringLiteral("CON"),    QStringLiteral("PRN"),
                         QStringLiteral("AUX"),    QStringLiteral("NUL"),
                         QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    for (const QString& port : {QStringLiteral("COM"), QStringLiteral("LPT")}) {
        for (const QChar digit : QStringLiteral("123456789\u00b9\u00b2\u00b3")) {
            names.append(port + digit);
        }
    }
    return names;
}

}  // namespace

bool isReservedPathSegment(const QString& segment) {
    if (segment.endsWith(QLatin1Char(' ')) || segment.endsWith(QLatin1Char('.'))) {
        return true;
    }
    qsizetype end = segment.indexOf(QLatin1Char('.'));
    if (end < 0) {
        end = segment.size();
    }
    while (end > 0 && segment.at(end - 1) == QLatin1Char(' ')) {
        --end;
    }
    QString base;
    for (qsizetype i = 0; i < end; ++i) {
        base.append(segment.at(i).toUpper());
    }
    static const QStringList names = deviceNames();
    return names.contains(base);
}

bool isSafeRelativePath(const QString& path) {
    if (path.isEmpty() || path.size() > 1024) {
        return false;
    }
    QString segment;
    // The separator added at the end closes the last segment.
    for (const QChar c : path + QLatin1Char('/')) {
        if (c == QLatin1Char('\\') || c == QLatin1Char(':') || c.isNull()) {
            return false;
        }
        if (c != QLatin1Char('/')) {
            segment.append(c);
            continue;
        }
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String("..") ||
            isReservedPathSegment(segment)) {
            return false;
        }
        segment.clear();
    }
    return true;
}

}  // namespace reference
