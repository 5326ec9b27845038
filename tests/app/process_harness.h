#pragma once

#include <QProcess>

// Runs the LauncherUpdater executable under test as a whole process. Which executable, and how
// it is started, are parameters, so the same tables run against the Linux build and against the
// Windows build under Wine:
//   LAUNCHERUPDATER_EXE     the executable (default: the one built beside this test)
//   LAUNCHERUPDATER_TESTKEYS_EXE  the same with the test key compiled in (testKeysExecutable)
//   LAUNCHERUPDATER_RUNNER  a command that starts it, split at spaces (e.g. "wine"); empty: none
//   LAUNCHERUPDATER_TEST_LAUNCHER_EXE  the test launcher (test_launcher) of the same build: the
//                           updated launcher the update tests stage, and with "--pid" the
//                           stand-in for the launcher that waits (default: the one built here)
struct ProcessResult {
    bool finished = false;
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

namespace harness {

QString executable();
// The same program with the test signing key compiled in, for runs that need a manifest it
// trusts.
QString testKeysExecutable();
QString testLauncher();
QStringList runner();
bool underWine();
// Starts the stand-in launcher through the runner and reads the process id it reports; the
// child runs until its input is closed. 0 when it could not be started.
quint32 startStandInLauncher(QProcess& child);
// The id of a process that has ended, for --parent-pid: an update then goes on at once.
quint32 endedProcessId();
// How the program under test must be told a host path (Z:\... under Wine).
QString programPath(const QString& hostPath);
// Runs the updater with `arguments`; `wrapper` goes in front of the runner (e.g. a command that
// drops privileges), `program` replaces the executable, `extraEnvironment` ("NAME=value") is
// added to its environment. Waits for the end, at most two minutes.
ProcessResult run(const QStringList& arguments, const QStringList& wrapper = {},
                  const QString& program = QString(), const QStringList& extraEnvironment = {});
// Starts the updater as run() does, without waiting for its end. False when it did not start.
bool start(QProcess& process, const QStringList& arguments, const QStringList& wrapper = {},
           const QString& program = QString(), const QStringList& extraEnvironment = {});
// Waits for a process of start() to end, at most two minutes, and takes what it wrote.
ProcessResult finish(QProcess& process);

// Why no unprivileged user can be switched to here (to have access really denied), or empty
// where one can (root with setpriv on PATH).
QString whyAccessCannotBeDenied();
QStringList unprivilegedWrapper();
// A copy of `program` in `directory` that user nobody can run (the build tree may not be
// reachable for it); empty on failure.
QString copyForEveryone(const QString& program, const QString& directory);

}  // namespace harness

// Skips a case that needs access really denied where no unprivileged user can be switched to.
#define SKIP_WITHOUT_DROPPING_PRIVILEGES()                                        \
    if (const QString why = harness::whyAccessCannotBeDenied(); !why.isEmpty()) { \
        QSKIP(qPrintable("cannot deny access here: " + why));                     \
    }
