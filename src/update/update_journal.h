#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class FileOperations;

// One path an update touches: where it lives, where its original goes, whether there was one,
// and whether a staged copy replaces it (false: the update removes it).
struct UpdateEntry {
    QString path;  // relative, as in the package listing or the delta plan
    QString targetPath;
    QString backupPath;
    bool hadOriginal = false;
    bool replacement = false;
    // Directories the update created for this path and those it pruned after taking the path
    // away, deepest first: a rollback removes the first and puts back the second, and touches no
    // other directory, so empty directories that were there before stay.
    QStringList createdDirectories;
    QStringList prunedDirectories;
};

// Writes the journal of an update atomically and durably: the phase and every entry's path,
// hadOriginal and replacement, in list order, as one compact JSON object. False with `message`
// set when it could not be written; the previous version then stays.
bool writeUpdateJournal(const QString& journalPath, const QString& phase,
                        const QList<UpdateEntry>& entries, FileOperations& files, QString& message);
