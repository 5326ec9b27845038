#include "process_harness.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace harness {

QString executable() {
    const QString configured = qEnvironmentVariable("LAUNCHERUPDATER_EXE");
    return configured.isEmpty() ? QStringLiteral(LAUNCHERUPDATER_DEFAULT_EXE) : configured;
}

QString testKeysExecutable() {
    const QString configured = qEnvironmentVariable("LAUNCHERUPDATER_TESTKEYS_EXE");
    return configured.isEmpty() ? QStringLiteral(LAUNCHERUPDATER_DEFAULT_TESTKEYS_EXE) : configured;
}

QStringList runner() {
    return qEnvironmentVariable("LAUNCHERUPDATER_RUNNER")
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool underWine() {
    const QStringList command = runner();
    return !command.isEmpty() && QFileInfo(command.first()).fileName().startsWith("wine");
}

quint32 startStandInLauncher(QProcess& child) {
    const QString configured = qEnvironmentVariable("LAUNCHERUPDATER_PID_CHILD");
    QStringList command = runner();
    command << (configured.isEmpty() ? QStringLiteral(LAUNCHERUPDATER_DEFAULT_PID_CHILD)
                                     : configured);
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

QString testLauncher() {
    const QString configured = qEnvironmentVariable("LAUNCHERUPDATER_TEST_LAUNCHER_EXE");
    return configured.isEmpty() ? QStringLiteral(LAUNCHERUPDATER_DEFAULT_TEST_LAUNCHER)
                                : configured;
}

QString programPath(const QString& hostPath) {
    if (!underWine()) {
        return hostPath;
    }
    return QStringLiteral("Z:") + QDir::toNativeSeparators(QFileInfo(hostPath).absoluteFilePath())
                                      .replace(QLatin1Char('/'), QLatin1Char('\\'));
}

bool start(QProcess& process, const QStringList& arguments, const QStringList& wrapper,
           const QString& program, const QStringList& extraEnvironment) {
    QStringList command = wrapper + runner();
    command << (program.isEmpty() ? executable() : program) << arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Qt logs to the journal when stderr is no terminal; the tests read the lines from stderr.
    // Wine hands WINEQT_* to Windows processes as QT_*.
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    environment.insert(QStringLiteral("WINEQT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    environment.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    for (const QString& variable : extraEnvironment) {
        environment.insert(variable.section(QLatin1Char('='), 0, 0),
                           variable.section(QLatin1Char('='), 1));
    }
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(command.takeFirst(), command);
    if (!process.waitForStarted(-1)) {
        return false;
    }
    process.closeWriteChannel();
    return true;
}

ProcessResult finish(QProcess& process) {
    ProcessResult result;
    result.finished =
        process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    return result;
}

ProcessResult run(const QStringList& arguments, const QStringList& wrapper, const QString& program,
                  const QStringList& extraEnvironment) {
    QProcess process;
    if (!start(process, arguments, wrapper, program, extraEnvironment)) {
        return ProcessResult();
    }
    return finish(process);
}

const QMap<QString, QString>& casesWineCannotRun() {
    static const QMap<QString, QString> cases = {
        {QStringLiteral("updateRefusesOwnProcessAsParent"),
         QStringLiteral("the updater's own process id is only known in advance when a POSIX "
                        "shell execs it")},
        {QStringLiteral("crashAtEveryStep"),
         QStringLiteral("the kills come from strace's fault injection, which traces Linux "
                        "system calls")},
        {QStringLiteral("durableBeforeEachStep"),
         QStringLiteral("the order of the flushes is read off strace, which traces Linux system "
                        "calls")},
        {QStringLiteral("withoutRightsTheJobGoesToAnElevatedCopy"),
         QStringLiteral("Wine gives every process an elevated token, so no job is ever handed "
                        "to an elevated copy (the platform tests start one through \"runas\")")},
    };
    return cases;
}

bool canDropPrivileges(QString* why) {
#ifdef _WIN32
    *why = QStringLiteral("no unprivileged user to switch to on Windows");
    return false;
#else
    if (underWine()) {
        *why = QStringLiteral("Wine runs every process with the same rights");
        return false;
    }
    if (::geteuid() != 0) {
        *why = QStringLiteral("switching to user nobody needs root");
        return false;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()) {
        *why = QStringLiteral("setpriv is not installed");
        return false;
    }
    return true;
#endif
}

QStringList unprivilegedWrapper() {
    return {QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
            QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups")};
}

QString copyForEveryone(const QString& program, const QString& directory) {
    const QString copy = QDir(directory).absoluteFilePath(QFileInfo(program).fileName());
    if (!QFile::copy(program, copy) ||
        !QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                         QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                         QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                         QFileDevice::ExeGroup)) {
        return QString();
    }
    return copy;
}

}  // namespace harness
