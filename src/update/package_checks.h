#pragma once

#include <QString>
#include <QStringList>

#include "delta_plan.h"

class FileOperations;

// Walks a full package: no link anywhere (dangling ones included), safe paths, at most 20000
// files and 2147483648 bytes, and both launcher executables at the top in their exact case.
// On success `packageFiles` holds the files' relative paths in walk order, without the signed
// release at the top, which is never installed.
bool scanFullPackage(const QString& stagedRoot, QStringList& packageFiles, QString& message);

// A delta's staging holds the plan file, perhaps the signed release, and exactly the replaced
// files (compared case-folded), each of the inventory's size and digest.
bool verifyDeltaStaging(const QString& stagedRoot, const DeltaPlan& plan, FileOperations& files,
                        QString& message);

// Every inventory file the delta does not bring is already installed as the plan declares it.
bool verifyKeptFiles(const QString& installRoot, const DeltaPlan& plan, FileOperations& files,
                     QString& message);

// After applying: every inventory file as declared, and every removed path gone (a directory
// may stay while it holds inventory files).
bool verifyDeltaResult(const QString& installRoot, const DeltaPlan& plan, FileOperations& files,
                       QString& message);

// One file under `root`: no link on the way, a regular file of the declared size and digest.
bool verifyUpdateFile(const QString& root, const ManifestFile& file, FileOperations& files,
                      QString& message);
