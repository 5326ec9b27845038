#pragma once

#include <QString>

// Starts the launcher at `launcherPath` with "--update-ack" and `ackPath`, and polls up to 150
// times, each waiting up to 100 milliseconds on the launcher, for a regular file at `ackPath`
// that was not there before the start, or that was replaced or rewritten since (the file is
// never created or removed here). True when it appeared (the launcher then goes on running);
// otherwise the launcher and every process it started are ended (exit code 1), and waited for
// until they are gone, and the answer is false.
// `asDesktopUser`, for a run that was elevated on the launcher's behalf: the launcher runs with
// the rights of the desktop's user, as the launcher that started the update did, not with this
// program's; where that cannot be done it runs with this program's, and one line is logged.
bool startUpdatedLauncher(const QString& launcherPath, const QString& ackPath,
                          bool asDesktopUser = false);
