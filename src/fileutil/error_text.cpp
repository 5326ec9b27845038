#include "error_text.h"

#include <QDir>

QString windowsErrorText(const char* verb, const QString& path, std::uint32_t error) {
    return QStringLiteral("%1 %2 (Windows error %3)")
        .arg(QLatin1String(verb), QDir::toNativeSeparators(path))
        .arg(error);
}

QString hashStepFailureText(const char* step, const QString& path, std::int32_t status) {
    return QStringLiteral("SHA-256 %1 failed for %2 (status 0x%3)")
        .arg(QLatin1String(step), QDir::toNativeSeparators(path))
        .arg(static_cast<std::uint32_t>(status), 8, 16, QLatin1Char('0'));
}
