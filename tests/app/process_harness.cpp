#include "process_harness.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace harness {

// Each program is the one built beside the test unless the variable names another.
QString executable() {
    return qEnvironmentVariable("LAUNCHERUPDATER_EXE", LAUNCHERUPDATER_DEFAULT_EXE);
}

QString testKeysExecutable() {
    return qEnvironmentVariable("LAUNCHERUPDATER_TESTKEYS_EXE",
                                LAUNCHERUPDATER_DEFAULT_TESTKEYS_EXE);
}

QString testLauncher() {
    return qEnvironmentVariable("LAUNCHERUPDATER_TEST_LAUNCHER_EXE",
                                LAUNCHERUPDATER_DEFAULT_TEST_LAUNCHER);
}

QStringList runner() {
    return qEnvironmentVariable("LAUNCHERUPDATER_RUNNER").split(' ', Qt::SkipEmptyParts);
}

bool underWine() {
    const QStringList command = runner();
    return !command.isEmpty() && QFileInfo(command.first()).fileName().startsWith("wine");
}

quint32 startStandInLauncher(QProcess& child) {
    QStringList command = runner() << testLauncher() << "--pid";
    child.start(command.takeFirst(), command);
    if (!child.waitForStarted(-1) || !child.waitForReadyRead(120000)) {
        return 0;
    }
    return child.readLine().trimmed().toUInt();
}

quint32 endedProcessId() {
    QProcess child;
    const quint32 pid = startStandInLauncher(child);
    child.closeWriteChannel();
    return child.waitForFinished() ? pid : 0;
}

QString programPath(const QString& hostPath) {
    return !underWine() ? hostPath
                        : "Z:" + QFileInfo(hostPath).absoluteFilePath().replace('/', '\\');
}

bool start(QProcess& process, const QStringList& arguments, const QStringList& wrapper,
           const QString& program, const QStringList& extraEnvironment) {
    QStringList command = wrapper + runner();
    command << (program.isEmpty() ? executable() : program) << arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Qt logs to the journal when stderr is no terminal; the tests read the lines from stderr.
    // Wine hands WINEQT_* to Windows processes as QT_*.
    const QStringList logging = {"QT_FORCE_STDERR_LOGGING=1", "WINEQT_FORCE_STDERR_LOGGING=1",
                                 "WINEDEBUG=-all"};
    for (const QString& variable : logging + extraEnvironment) {
        environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
    }
    process.setProcessEnvironment(environment);
    process.start(command.takeFirst(), command);
    const bool started = process.waitForStarted(-1);
    process.closeWriteChannel();
    return started;
}

ProcessResult finish(QProcess& process) {
    const bool finished =
        process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    return {finished, process.exitCode(), process.readAllStandardOutput(),
            process.readAllStandardError()};
}

ProcessResult run(const QStringList& arguments, const QStringList& wrapper, const QString& program,
                  const QStringList& extraEnvironment) {
    QProcess process;
    return start(process, arguments, wrapper, program, extraEnvironment) ? finish(process)
                                                                         : ProcessResult();
}

QString whyAccessCannotBeDenied() {
#ifdef _WIN32
    return "no unprivileged user to switch to on Windows";
#else
    return underWine()        ? "Wine runs every process with the same rights"
           : ::geteuid() != 0 ? "switching to user nobody needs root"
           : QStandardPaths::findExecutable("setpriv").isEmpty() ? "setpriv is not installed"
                                                                 : QString();
#endif
}

QStringList unprivilegedWrapper() {
    return {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
}

QString copyForEveryone(const QString& program, const QString& directory) {
    const QString copy = QDir(directory).absoluteFilePath(QFileInfo(program).fileName());
    const auto everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                          QFileDevice::ExeOther;
    return QFile::copy(program, copy) && QFile::setPermissions(copy, everyone) ? copy : QString();
}

}  // namespace harness
