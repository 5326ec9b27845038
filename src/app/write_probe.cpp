#include "write_probe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include "native_path.h"
#include "platform.h"

namespace {

constexpr qint64 kMaxPlanSize = 1048576;

}  // namespace

bool probeWriteAccess(const QString& directory, bool& accessDenied) {
    accessDenied = false;
    const QFileInfo info(directory);
    if (info.exists() && !info.isDir()) {
        return false;
    }
    if (!info.exists() && !QDir().mkpath(directory)) {
        accessDenied = true;
        return false;
    }
    const QString probePath =
        QDir(info.absoluteFilePath())
            .absoluteFilePath(QStringLiteral(".tavorin-update-probe-") +
                              QUuid::createUuid().toString(QUuid::WithoutBraces));
    const platform::NativeString nativeProbe = nativeFilePath(probePath);
    std::uint32_t error = 0;
    if (!platform::probeNewFile(nativeProbe, &error)) {
        accessDenied = error == platform::kErrorAccessDenied;
        return false;
    }
    return true;
}

QString readPlanInstallationRoot(const QString& planPath) {
    // Only regular files: opening a FIFO planted as the plan would block.
    if (!QFileInfo(planPath).isFile()) {
        return {};
    }
    QFile plan(planPath);
    if (!plan.open(QIODevice::ReadOnly) || plan.size() <= 0 || plan.size() > kMaxPlanSize) {
        return {};
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(plan.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        return {};
    }
    return document.object().value(QStringLiteral("installationRoot")).toString();
}
