#include "game_repair_run.h"

int runGameRepair(const QString&, const SignatureVerifier&, QString& message) {
    message = QStringLiteral("Game repair is not available in this build.");
    return 25;
}
