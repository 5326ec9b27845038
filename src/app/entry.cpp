#include "entry.h"

int runLauncherUpdater(const QStringList& arguments) {
    return arguments.contains(QStringLiteral("--apply-game-repair")) ? 20 : 2;
}
