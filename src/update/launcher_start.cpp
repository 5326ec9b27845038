#include "launcher_start.h"

#include <QDir>
#include <QtGlobal>

#include "native_path.h"
#include "platform.h"

namespace {

constexpr int kPolls = 150;
constexpr std::uint32_t kPollMs = 100;
// How long the launcher's processes may take to be gone once they are told to end.
constexpr std::uint32_t kGroupEndMs = 10000;

// The launcher's own file only: a directory, or a link planted there, is no acknowledgement; nor
// is a file that stood there before the start (an earlier update's, or any file the caller
// named) unless it was replaced or rewritten since.
bool acknowledged(const platform::NativeString& ackPath, bool stoodBefore,
                  const platform::FileStamp& before) {
    platform::FileStamp now;
    return platform::regularFileStamp(ackPath, &now) && (!stoodBefore || now != before);
}

}  // namespace

bool startUpdatedLauncher(const QString& launcherPath, const QString& ackPath, bool asDesktopUser) {
    const platform::NativeString ack = nativeFilePath(ackPath);
    platform::FileStamp before;
    const bool stoodBefore = platform::regularFileStamp(ack, &before);
    platform::Process launcher;
    std::uint32_t error = 0;
    std::uint32_t desktopError = 0;
    // The launcher receives the acknowledgement path exactly as this program did.
    if (!launcher.start(
            nativeArgument(QDir::toNativeSeparators(launcherPath)),
            {nativeArgument(QStringLiteral("--update-ack")), nativeArgument(ackPath)}, &error,
            platform::ProcessGroup::Own,
            asDesktopUser ? platform::ProcessUser::Desktop : platform::ProcessUser::This,
            &desktopError)) {
        return false;
    }
    if (asDesktopUser && desktopError != 0) {
        qWarning(
            "launcher update: the updated launcher runs with administrator rights: it could "
            "not be started as the desktop's user (error %u).",
            desktopError);
    }
    for (int poll = 0; poll < kPolls; ++poll) {
        if (acknowledged(ack, stoodBefore, before)) {
            return true;
        }
        if (launcher.wait(kPollMs) == platform::ProcessWait::Ended) {
            if (acknowledged(ack, stoodBefore, before)) {
                return true;
            }
            break;
        }
    }
    // Its helpers too (a browser engine, a crash handler): they keep the new files open and
    // mapped, and the rollback could not put the originals back while they run. Should some
    // outlast the wait, the rollback still tries.
    if (!launcher.terminateGroup(kGroupEndMs, &error)) {
        qWarning(
            "launcher update: the launcher's processes could not all be ended (error %u); "
            "the rollback goes on.",
            error);
    }
    return false;
}
