#pragma once

#include <QList>
#include <QString>

#include "repair_plan.h"

class FileOperations;

// One file of a repair transaction.
struct RepairEntry {
    QString target;            // the relative path as the signed manifest writes it
    QString staged;            // the plan's relative path, as written: the staged file's name
    QString targetPath;        // installationRoot joined with target
    QString backupPath;        // the generation's backup directory joined with target
    bool hadOriginal = false;  // something stood at targetPath before the transaction
};

// The journal of the repair in `installationRoot`: ".tavorin-repair-transaction.json".
QString repairJournalPath(const QString& installationRoot);

// "<installationRoot>/.tavorin-backup/<generation>": where the generation's originals go.
QString repairBackupDirectory(const RepairPlan& plan);

// The temporary name a repaired file is copied to beside its target.
QString temporaryCopyPath(const QString& targetPath);

// Writes the journal listing `entries` in one durable atomic step (compact JSON, keys in
// ascending order). On failure sets "Could not write the game repair transaction journal."
bool writeRepairJournal(const RepairPlan& plan, const QList<RepairEntry>& entries,
                        FileOperations& files, QString& message);
