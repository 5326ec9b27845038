#include "elevation.h"

#include "platform.h"
#include "result_file.h"

namespace {

constexpr int kRelaunchFailedCode = 25;

}  // namespace

bool isProcessElevated() {
    return platform::isProcessElevated();
}

int relaunchElevatedForRepair(const QStringList&, const QString& planPath) {
    writeRepairResult(planPath, kRelaunchFailedCode,
                      QStringLiteral("Could not start the elevated game repair helper."));
    return kRelaunchFailedCode;
}

bool relaunchElevatedForUpdate(const QStringList&) {
    return false;
}
