#pragma once

#include <QtGlobal>

#include "platform.h"

// How a process is awaited: platform::waitForProcessExit, or a stand-in in tests that need an
// outcome the system will not produce on demand (an open refused for another reason).
using ProcessWaiter = platform::ProcessWait (*)(std::uint32_t pid, std::uint32_t timeoutMs,
                                                std::uint32_t* openError);

// Waits up to 30 seconds for the launcher process `pid` to end. True when it has ended or no
// longer exists (the open fails with error 87); false for pid 0 or this process's own id, a
// time-out, a failed wait, or an open refused for any other reason (access denied, say).
bool waitForParentProcess(quint32 pid, ProcessWaiter wait = platform::waitForProcessExit);
