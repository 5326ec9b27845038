#pragma once

#include <QString>
#include <QStringList>

// True when the process runs with administrator rights.
bool isProcessElevated();

// Hands a game repair to an elevated copy of this program and returns the exit code this
// process must end with; writes result.json itself when the copy cannot be started or followed.
// The elevated start is not built yet: every call ends as a copy that could not be started
// (code 25, "Could not start the elevated game repair helper.").
int relaunchElevatedForRepair(const QStringList& arguments, const QString& planPath);

// Starts an elevated copy for a launcher update without waiting for it. True when it started.
// The elevated start is not built yet: every call reports a copy that could not be started.
bool relaunchElevatedForUpdate(const QStringList& arguments);
