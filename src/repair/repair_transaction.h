#pragma once

#include <QList>
#include <QString>

#include "repair_journal.h"
#include "repair_plan.h"

class FileOperations;

// Replaces the planned files with the verified staged ones as one transaction: no link on the
// way to any target or backup directory, the generation's backup directory, the durable journal,
// then per file: directories, original to the backup, staged file copied beside the target,
// copy checked against the signed size and digest, copy renamed into place (never over anything
// that appeared meanwhile). Everything the transaction wrote is made durable, then the journal's
// removal commits it, and once that removal is durable the backups go. Any failure before the
// commit rolls back what was done (the journal stays, so recovery can finish an incomplete
// rollback) and sets `message`.
bool applyRepairTransaction(const RepairPlan& plan, FileOperations& files, QString& message);

// Undoes `applied` from its last entry to its first: whatever stands at the target goes, and the
// backup, if any, is moved back. Best effort; reports nothing.
void rollBackRepairEntries(const QList<RepairEntry>& applied, FileOperations& files);
