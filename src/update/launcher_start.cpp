#include "launcher_start.h"

#include <QDir>

#include "native_path.h"
#include "platform.h"

namespace {

constexpr int kPolls = 150;
constexpr std::uint32_t kPollMs = 100;

// The launcher's own file only: a directory, or a link planted there, is no acknowledgement.
bool acknowledged(const platform::NativeString& ackPath) {
    return platform::regularFileSize(ackPath) >= 0;
}

}  // namespace

bool startUpdatedLauncher(const QString& launcherPath, const QString& ackPath) {
    platform::Process launcher;
    std::uint32_t error = 0;
    // The launcher receives the acknowledgement path exactly as this program did.
    if (!launcher.start(nativeArgument(QDir::toNativeSeparators(launcherPath)),
                        {nativeArgument(QStringLiteral("--update-ack")), nativeArgument(ackPath)},
                        &error)) {
        return false;
    }
    const platform::NativeString ack = nativeFilePath(ackPath);
    for (int poll = 0; poll < kPolls; ++poll) {
        if (acknowledged(ack)) {
            return true;
        }
        if (launcher.wait(kPollMs) == platform::ProcessWait::Ended) {
            if (acknowledged(ack)) {
                return true;
            }
            break;
        }
    }
    launcher.terminate(&error);
    return false;
}
