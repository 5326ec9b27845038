#pragma once

#include <QStringList>

// Runs one whole process lifetime's worth of work for `arguments` (element 0 is the program's
// own path) and returns the process exit code.
int runLauncherUpdater(const QStringList& arguments);
