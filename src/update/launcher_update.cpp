#include "launcher_update.h"

bool applyLauncherUpdate(const QString&, const QString&, const QString&, const QString&,
                         const QString&, const QString&, QString& message) {
    message = QStringLiteral("Launcher update is not available in this build.");
    return false;
}
