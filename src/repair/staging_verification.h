#pragma once

#include <QString>

#include "repair_plan.h"

class FileOperations;

// Checks every planned staged file against the signed manifest: known to it, no link on the way
// inside the staged files directory, a regular file of the signed size (checked before any
// reading), then the signed SHA-256 digest. Reads only. On failure sets `message`.
bool verifyRepairStaging(const RepairPlan& plan, FileOperations& files, QString& message);
