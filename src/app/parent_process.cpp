#include "parent_process.h"

namespace {

constexpr std::uint32_t kParentWaitMs = 30000;

}  // namespace

bool waitForParentProcess(quint32 pid, ProcessWaiter wait) {
    if (pid == 0 || pid == platform::currentProcessId()) {
        return false;
    }
    std::uint32_t openError = 0;
    switch (wait(pid, kParentWaitMs, &openError)) {
        case platform::ProcessWait::Ended:
            return true;
        case platform::ProcessWait::OpenFailed:
            return openError == platform::kErrorInvalidParameter;
        case platform::ProcessWait::TimedOut:
        case platform::ProcessWait::WaitFailed:
            break;
    }
    return false;
}
