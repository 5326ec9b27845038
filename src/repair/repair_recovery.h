#pragma once

#include <QString>

#include "repair_plan.h"

class FileOperations;

// Undoes the repair whose journal is still in plan.installationRoot, last entry first, and then
// removes the journal; true at once when there is none. Each entry's temporary copy is removed
// too, so an interrupted repair leaves nothing beside the game's files; the backup directory
// stays until the next transaction commits. The undo is durable before the journal goes. On
// failure sets `message` and leaves the journal for the next attempt (the undo is idempotent).
bool recoverInterruptedRepair(const RepairPlan& plan, FileOperations& files, QString& message);
