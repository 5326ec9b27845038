#include "game_repair_run.h"

#include "file_operations.h"
#include "installation_lock.h"
#include "repair_plan.h"
#include "repair_recovery.h"
#include "repair_transaction.h"
#include "staging_verification.h"

int runGameRepair(const QString& planPath, const SignatureVerifier& verifier, FileOperations& files,
                  QString& message) {
    RepairPlan plan;
    int errorCode = 21;
    if (!loadRepairPlan(planPath, verifier, files, plan, errorCode, message)) {
        return errorCode;
    }
    // Held to the end: another run's journal is in flight, never one to recover.
    InstallationLock lock;
    if (!lock.acquire(plan.installationRoot, files, message)) {
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
