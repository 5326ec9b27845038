#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Runs the LauncherUpdater executable under test as a whole process. Which executable, and how
// it is started, are parameters, so the same tables run against the Linux build and against the
// Windows build under Wine:
//   LAUNCHERUPDATER_EXE     the executable (default: the one built beside this test)
//   LAUNCHERUPDATER_RUNNER  a command that starts it, split at spaces (e.g. "wine"); empty: none
struct ProcessResult {
    bool finished = false;
    int exitCode = -1;
    QByteArray standardError;
};

namespace harness {

QString executable();
QStringList runner();
bool underWine();
// How the program under test must be told a host path (Z:\... under Wine).
QString programPath(const QString& hostPath);
// Runs the updater with `arguments`; `wrapper` goes in front of the runner (e.g. a command that
// drops privileges), `program` replaces the executable. Waits for the end, at most two minutes.
ProcessResult run(const QStringList& arguments, const QStringList& wrapper = {},
                  const QString& program = QString());

// The cases that cannot run against the Windows build under Wine, by test function, and why.
// The one list of them; tests consult it through SKIP_WHERE_WINE_CANNOT().
const QMap<QString, QString>& casesWineCannotRun();

// Dropping to an unprivileged user is possible here (root with setpriv on PATH).
bool canDropPrivileges(QString* why);
QStringList unprivilegedWrapper();
// A copy of `program` in `directory` that user nobody can run (the build tree may not be
// reachable for it); empty on failure.
QString copyForEveryone(const QString& program, const QString& directory);

}  // namespace harness

#define SKIP_WHERE_WINE_CANNOT()                                      \
    do {                                                              \
        const QString why = harness::casesWineCannotRun().value(      \
            QString::fromLatin1(QTest::currentTestFunction()));       \
        if (harness::underWine() && !why.isEmpty()) {                 \
            QSKIP(qPrintable(QStringLiteral("Wine cannot: ") + why)); \
        }                                                             \
    } while (false)
