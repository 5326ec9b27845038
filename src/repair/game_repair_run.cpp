#include "game_repair_run.h"

#include "file_operations.h"
#include "installation_lock.h"
#include "repair_plan.h"
#include "repair_recovery.h"
#include "repair_transaction.h"
#include "rooted_file_operations.h"
#include "staging_verification.h"

namespace {

int runLoadedRepair(const RepairPlan& plan, FileOperations& files, QString& message) {
    // Held to the end: another run's journal is in flight, never one to recover.
    InstallationLock lock;
    if (!lock.acquire(plan.installationRoot, message)) {
        return 25;
    }
    if (!recoverInterruptedRepair(plan, files, message)) {
        return 24;
    }
    if (!verifyRepairStaging(plan, files, message)) {
        return 23;
    }
    if (!applyRepairTransaction(plan, files, message)) {
        return 25;
    }
    return 0;
}

}  // namespace

int runGameRepair(const QString& planPath, const SignatureVerifier& verifier, QString& message) {
    RepairPlan plan;
    int errorCode = 21;
    if (!loadRepairPlan(planPath, verifier, plan, errorCode, message)) {
        return errorCode;
    }
    // From here on the run works only below the installation and the staging, each held open.
    RootedFileOperations files({plan.installationRoot, plan.stagingRoot});
    return runLoadedRepair(plan, files, message);
}

int runGameRepair(const QString& planPath, const SignatureVerifier& verifier, FileOperations& files,
                  QString& message) {
    RepairPlan plan;
    int errorCode = 21;
    if (!loadRepairPlan(planPath, verifier, plan, errorCode, message)) {
        return errorCode;
    }
    return runLoadedRepair(plan, files, message);
}
