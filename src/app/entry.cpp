#include "entry.h"

#include <QFileInfo>

#include "command_line.h"
#include "elevation.h"
#include "failure_log.h"
#include "game_repair_run.h"
#include "launcher_update.h"
#include "parent_process.h"
#include "result_file.h"
#include "retrying_file_operations.h"
#include "rooted_file_operations.h"
#include "signature_verifier.h"
#include "write_probe.h"

namespace {

enum ExitCode {
    kSuccess = 0,
    kNoMode = 2,
    kBadUpdateCommandLine = 3,
    kElevatedUpdateNotStarted = 4,
    kParentDidNotEnd = 5,
    kUpdateFailed = 6,
    kNoRepairPlan = 20,
};

const QString kElevated = QStringLiteral("--elevated");

// True when the job must go to an elevated copy: the directory is not writable for lack of
// rights and this process could not do better. Other probe failures are left to the job, which
// reports them itself.
bool needsElevatedCopy(const QStringList& arguments, const QString& directory) {
    if (hasSwitch(arguments, kElevated)) {
        return false;
    }
    bool accessDenied = false;
    return !probeWriteAccess(directory, accessDenied) && accessDenied && !isProcessElevated();
}

int runRepairMode(const QStringList& arguments) {
    const QString planPath = switchValue(arguments, QStringLiteral("--plan"));
    const QString installationRoot = readPlanInstallationRoot(planPath);
    if (planPath.isEmpty() || installationRoot.isEmpty()) {
        return kNoRepairPlan;
    }
    if (needsElevatedCopy(arguments, installationRoot)) {
        return relaunchElevatedForRepair(arguments, planPath);
    }
    const SignatureVerifier verifier(false, nullptr);
    // From here on, the result file included, the run works only below the plan's directory and
    // the installation, each held open from now on: a directory swapped for a link later cannot
    // carry a read or a write elsewhere.
    RootedFileOperations rooted({QFileInfo(planPath).absolutePath(), installationRoot});
    RetryingFileOperations files(rooted);
    QString message;
    const int code = runGameRepair(planPath, verifier, files, message);
    writeRepairResult(files, planPath, code, message);
    if (code != kSuccess) {
        logRunFailure("game repair helper failed:", message);
    }
    return code;
}

int runUpdateMode(const QStringList& arguments) {
    UpdateArguments update;
    if (!readUpdateArguments(arguments, update)) {
        return kBadUpdateCommandLine;
    }
    if (needsElevatedCopy(arguments, update.installRoot)) {
        return relaunchElevatedForUpdate(arguments) ? kSuccess : kElevatedUpdateNotStarted;
    }
    // The launcher's files cannot be replaced while it still runs.
    if (!waitForParentProcess(update.parentPid)) {
        return kParentDidNotEnd;
    }
    const UpdateRequest request{update.installRoot,
                                update.stagedRoot,
                                update.version,
                                update.ackPath,
                                update.deltaPlan,
                                update.fromVersion,
                                hasSwitch(arguments, kElevated)};
    const SignatureVerifier verifier(false, nullptr);
    QString message;
    if (!applyLauncherUpdate(request, verifier, message)) {
        logRunFailure("launcher update failed:", message);
        return kUpdateFailed;
    }
    return kSuccess;
}

}  // namespace

int runLauncherUpdater(const QStringList& arguments) {
    if (hasSwitch(arguments, QStringLiteral("--apply-game-repair"))) {
        return runRepairMode(arguments);
    }
    if (hasSwitch(arguments, QStringLiteral("--apply-update"))) {
        return runUpdateMode(arguments);
    }
    return kNoMode;
}
