#pragma once

#include <QString>
#include <QStringList>

// True when the process runs with administrator rights.
bool isProcessElevated();

// Hands a game repair to an elevated copy of this program, waits for it without limit and
// returns the exit code this process must end with: the copy's own, which has written
// result.json beside the plan, or 25 or 26 when the copy could not be started or followed, and
// then this function writes result.json itself. The copy gets the arguments without element 0,
// then "--elevated", each exactly as it is (see platform::Process::startElevated).
int relaunchElevatedForRepair(const QStringList& arguments, const QString& planPath);

// Starts an elevated copy for a launcher update and does not wait for it; true when it started
// (or was handed to pkexec, whose prompt this process no longer sees). The copy gets every
// argument, element 0 included, then "--elevated".
bool relaunchElevatedForUpdate(const QStringList& arguments);
