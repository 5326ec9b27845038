#pragma once

#include <QtGlobal>

// Waits up to 30 seconds for the launcher process `pid` to end. True when it ended or no longer
// exists; false for pid 0, our own pid, a time-out, a failed wait, or a process that cannot be
// opened for another reason (such as access denied).
bool waitForParentProcess(quint32 pid);
