// The whole program against temporary directories, judged by its exit code, result.json, its log
// lines and the files it leaves: both jobs' rules, the command line, the wait for the launcher,
// the hand-over to an elevated copy and one run at a time; and the program killed at every call
// that may change the file system, its flushes in order.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QUuid>
#include <QtTest>

#include "file_fixtures.h"
#include "job_rows.h"
#include "process_harness.h"

#ifndef Q_OS_WIN
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#endif

using namespace testsupport;

namespace {

const QByteArray kNotStarted = "The updated launcher did not start successfully.";

QStringList allEntries(const QString& directory) {
    QStringList entries;
    QDirIterator it(directory, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        entries << QDir(directory).relativeFilePath(it.next());
    }
    entries.sort();
    return entries;
}

QStringList repairArguments(const RepairScenario& s) {
    return {"--apply-game-repair", "--plan", harness::programPath(s.planPath())};
}

// The scenario with the test launcher staged as the new ClientLauncher.exe.
UpdateScenario updateScenario(const QString& dir, bool delta, const QString& setup = QString()) {
    const auto [rootName, ackName] = scenarioNames(setup);
    UpdateScenario s(dir, delta, rootName, ackName);
    s.staged.insert("ClientLauncher.exe", readFile(harness::testLauncher()));
    return s;
}

QStringList updateArguments(const UpdateScenario& s, quint32 parentPid,
                            const RowRequest& row = {}) {
    QStringList arguments = {"--apply-update", "--version", "2.0", "--parent-pid",
                             QString::number(parentPid)};
    arguments << "--install-root" << harness::programPath(s.root) << "--ack"
              << harness::programPath(s.ack) << "--staged-root"
              << harness::programPath(row.stagedRoot.isEmpty() ? s.staging : row.stagedRoot);
    if (s.delta) {
        arguments << "--delta-plan"
                  << harness::programPath(row.deltaPlan.isEmpty() ? s.planPath() : row.deltaPlan)
                  << "--from-version"
                  << "1.0";
    }
    return row.elevated ? arguments << "--elevated" : arguments;
}

// Replaces @DIR@ in each argument by the scratch directory as the program must see it.
QStringList expand(const QStringList& arguments, const QString& dir) {
    return QStringList(arguments).replaceInStrings("@DIR@", harness::programPath(dir));
}

// An update command line for the scratch directory, to expand(); @PID@ the launcher's id.
const QString kUpdate =
    "--apply-update --install-root @DIR@/inst --staged-root @DIR@/staged --version 2.0.0 --ack "
    "@DIR@/ack --parent-pid @PID@";

QStringList updateSwitches(const QString& parentPid) {
    return QString(kUpdate).replace("@PID@", parentPid).split(' ');
}

QString strace() {
    return QStandardPaths::findExecutable("strace");
}

// Runs `command` under strace with `options` and waits for its end.
bool traced(QProcess& process, const QStringList& options, const QStringList& command) {
    process.setProcessChannelMode(QProcess::MergedChannels);
    // LeakSanitizer cannot work under ptrace: in the sanitized build it would fail the run.
    process.start(strace(),
                  QStringList{"-E", "LSAN_OPTIONS=detect_leaks=0", "-qq"} + options + command);
    return process.waitForFinished(120000);
}

#define SKIP_WITHOUT_STRACE()                                                       \
    do {                                                                            \
        SKIP_UNDER_WINE("strace traces Linux system calls");                        \
        if (strace().isEmpty()) {                                                   \
            QSKIP("strace is not installed (scripts/install-deps.sh installs it)"); \
        }                                                                           \
    } while (false)

}  // namespace

class TestJobsProcess : public QObject {
    Q_OBJECT

private slots:
    void repairRules_data() { addRows(repairRows(), true, harness::underWine()); }
    void repairRules();
    void updateRules_data();
    void updateRules();
    void refusedCommandLine_data();
    void refusedCommandLine();
    void updateWaitsForRunningParent();
    void updateRefusesOwnProcessAsParent();
    void withoutRightsTheJobGoesToAnElevatedCopy_data();
    void withoutRightsTheJobGoesToAnElevatedCopy();
    void oneRunAtATime();
    void crashAtEveryStep_data();
    void crashAtEveryStep();
    void durableBeforeEachStep();
};

// The repair rules as the program applies them: its code, result.json beside the plan and the
// failure logged.
void TestJobsProcess::repairRules() {
    QFETCH(int, row);
    const RepairRow& r = repairRows().at(row);
    QTemporaryDir dir;
    RepairScenario s(dir.path());
    const QString programDir = harness::programPath(dir.path()).replace('\\', '/');
    applyPatch(s.plan, QByteArray(r.plan).replace("@DIR@", programDir.toUtf8()));
    applyPatch(s.manifest, r.manifest);
    QVERIFY(s.writeDocuments(harness::programPath(s.root())) && prepareRepair(s, r.setup));
    const FileTree outside = fileTree(s.path("outside"));
    const bool relative = QByteArray(r.setup) == "relative";
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const ProcessResult result =
        harness::run({"--apply-game-repair", "--plan",
                      relative ? "staging/plan.json" : harness::programPath(s.planPath())},
                     {}, harness::testKeysExecutable());
    QDir::setCurrent(previous);
    QVERIFY(result.finished);
    const QJsonObject written =
        QJsonDocument::fromJson(readFile(s.path("staging/result.json"))).object();
    QCOMPARE(written.value("errorCode").toInt(-1), result.exitCode);
    QCOMPARE(written.value("ok").toBool(), result.exitCode == 0);
    const QString message = written.value("message").toString();
    QCOMPARE(result.standardError.trimmed(),
             message.isEmpty() ? QByteArray() : "game repair helper failed: " + message.toUtf8());
    checkRepairRun(r, s, outside, result.exitCode, message);
}

// The update rules as the program applies them, the test launcher answering as each row says:
// its code, the failure logged, the acknowledgement the launcher wrote, the journal of a rollback.
void TestJobsProcess::updateRules_data() {
    addRows<UpdateRow>(updateRows(), true, harness::underWine(), [](const UpdateRow& r) {
        // The late and sized steps need a hook inside the run.
        return !QByteArray(r.setup).contains("late ") && !QByteArray(r.setup).contains("sized ");
    });
}

void TestJobsProcess::updateRules() {
    QFETCH(int, row);
    const UpdateRow& r = updateRows().at(row);
    QTemporaryDir dir;
    const UpdateScenario s = updateScenario(dir.path(), r.delta, r.setup);
    RowRequest changes;
    QVERIFY(s.write() && prepareUpdate(s, changes, r.setup));
    // A launcher left running by a failed check ends before the scratch directory goes.
    const auto stopLauncher = qScopeGuard([&] { writeFile(s.ack + ".stop", {}); });
    const FileTree before = installationTree(s.root);
    const FileTree outside = installationTree(s.path("outside"));
    const quint32 parent = harness::endedProcessId();
    QVERIFY(parent != 0);
    const ProcessResult result =
        harness::run(updateArguments(s, parent, changes), {}, harness::testKeysExecutable(),
                     {"LAUNCHERUPDATER_TEST_LAUNCHER=" + QString(r.launcher)});
    QVERIFY(result.finished);
    // An elevated run that finds no desktop user to start the launcher as says so, and goes on.
    const QByteArray failed = "launcher update failed: ";
    const qsizetype at = result.standardError.indexOf(failed);
    const QByteArray logged = at < 0 ? QByteArray() : result.standardError.mid(at).trimmed();
    QVERIFY2(result.exitCode == (at < 0 ? 0 : 6) &&
                 (changes.elevated || result.standardError.trimmed() == logged),
             result.standardError.constData());
    checkUpdateRun(r, s, before, outside, QString::fromUtf8(logged.mid(failed.size())));
    if (QTest::currentTestFailed()) {
        return;
    }
    if (result.exitCode != 0) {
        if (logged.endsWith(kNotStarted)) {
            const QStringList work = s.workDirectories();
            QCOMPARE(work.size(), 1);
            QCOMPARE(QUuid::fromString(work.first()).toString(QUuid::WithoutBraces), work.first());
            const QString workDirectory = s.root + "/.tavorin-update/" + work.first();
            const QByteArray journal = readFile(workDirectory + "/journal.json");
            QCOMPARE(journal, QJsonDocument(s.journal()).toJson(QJsonDocument::Compact));
            QCOMPARE(s.journal().value("phase"), "rolled-back");
            QCOMPARE(fileTree(workDirectory + "/backup", false), FileTree());
        }
#ifndef Q_OS_WIN
        // Gone, and reaped, before the updater rolled back. Under Wine the file holds a Windows
        // process id, which no POSIX call can look up.
        const pid_t pid = readFile(s.ack + ".pid").toInt();
        QVERIFY(harness::underWine() || !QFile::exists(s.ack + ".pid") ||
                (pid > 0 && ::kill(pid, 0) == -1 && errno == ESRCH));
#endif
        return;
    }
    const QString launcher = r.launcher;
    QCOMPARE(readFile(s.ack), launcher == "empty"
                                  ? QByteArray()
                                  : "--update-ack\n" + harness::programPath(s.ack).toUtf8() + '\n');
    if (launcher == "stay") {
        // The launcher outlives the updater, and still answers.
        QVERIFY(!QFile::exists(s.ack + ".done"));
        QVERIFY(writeFile(s.ack + ".stop", {}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(s.ack + ".done"), 30000);
    }
}

// Command lines refused before any work: nothing is written, nothing is logged. A readable
// plan.json stands in the scratch directory, so that a plan taken from the wrong argument shows.
void TestJobsProcess::refusedCommandLine_data() {
    QTest::addColumn<QString>("arguments");  // split at spaces; @U@: an update's, @PID@ 1
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("leftBehind");  // what else may exist in the scratch directory
    const auto row = [](const char* name, const QString& arguments, int code,
                        const QStringList& leftBehind = {}) {
        QTest::newRow(name) << QString(arguments).replace("@U@", kUpdate) << code << leftBehind;
    };
    row("no arguments", "", 2);
    row("mode switch in other case", "--Apply-update" + kUpdate.mid(14), 2);
    row("repair without plan", "--apply-game-repair", 20);
    row("first occurrence of a switch wins",
        "--apply-game-repair --plan @DIR@/none.json --plan @DIR@/plan.json", 20);
    row("plan stands last", "--apply-game-repair --plan", 20);
    row("plan followed by --elevated", "--apply-game-repair --plan --elevated", 20);
    row("repair wins over a valid update", "--apply-game-repair @U@", 20);
    row("Qt's own switch is the plan's value, not Qt's",
        "--apply-game-repair --plan --qmljsdebugger=x @DIR@/plan.json", 20);
    row("pid in hexadecimal", QString(kUpdate).replace("@PID@", "0x10"), 3);
    row("empty install root", QString(kUpdate).replace("@DIR@/inst", ""), 3);
    row("no ack", QString(kUpdate).replace("--ack @DIR@/ack ", ""), 3);
    row("delta plan without from-version", "@U@ --delta-plan @DIR@/staged/p.json", 3);
    row("from-version without delta plan", "@U@ --from-version 1.0.0", 3);
    // The write probe has run (and created the missing install root) before the pid is judged.
    row("parent pid 0", QString(kUpdate).replace("@PID@", "0"), 5, {"inst"});
    // A plan whose installation root cannot be read first: no result file either.
    row("plan root a number", "--apply-game-repair --plan @DIR@/number.json", 20, {"number.json"});
}

void TestJobsProcess::refusedCommandLine() {
    QFETCH(QString, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, leftBehind);
    QTemporaryDir dir;
    QVERIFY(writeFile(
        dir.filePath("plan.json"),
        QJsonDocument(QJsonObject{{"installationRoot", harness::programPath(dir.filePath("game"))}})
            .toJson()));
    QVERIFY(!leftBehind.contains("number.json") ||
            writeFile(dir.filePath("number.json"), R"({"installationRoot":5})"));
    const QString program = QString(arguments).replace("@PID@", "1");
    const ProcessResult result =
        harness::run(expand(program.isEmpty() ? QStringList() : program.split(' '), dir.path()));
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.standardError, QByteArray());
    leftBehind << "plan.json";
    leftBehind.sort();
    QCOMPARE(allEntries(dir.path()), leftBehind);
}

void TestJobsProcess::updateWaitsForRunningParent() {
    QTemporaryDir dir;
    // The stand-in launcher runs until its input closes; the updater must wait for that.
    QProcess launcher;
    const quint32 pid = harness::startStandInLauncher(launcher);
    QVERIFY(pid != 0);
    QProcess updater;
    QVERIFY(harness::start(updater, expand(updateSwitches(QString::number(pid)), dir.path())));
    QVERIFY(!updater.waitForFinished(1000));  // bounded: still waiting for the launcher
    launcher.closeWriteChannel();
    QVERIFY(launcher.waitForFinished());
    QCOMPARE(harness::finish(updater).exitCode, 6);  // the staged root does not exist
}

void TestJobsProcess::updateRefusesOwnProcessAsParent() {
    SKIP_UNDER_WINE("the updater's own process id is only known in advance when a shell execs it");
    QTemporaryDir dir;
    const QStringList arguments = expand(updateSwitches("$$"), dir.path());
    QProcess shell;
    // exec keeps the shell's pid, so $$ is the updater's own pid.
    shell.start("/bin/sh", {"-c", "exec \"$0\" " + arguments.mid(0, 10).join(' ') + " $$",
                            harness::executable()});
    QVERIFY(shell.waitForFinished(60000));
    QCOMPARE(shell.exitCode(), 5);
}

// Run as user nobody against a directory it may not write, with a stand-in pkexec on PATH that
// records what it was given and then behaves as one of the rows says: hands over to the program
// as the real one does (as nobody, here: the copy then fails on its own terms), is dismissed
// (126), refuses (127), dies, or is missing. With "--elevated" the process is the elevated copy:
// it runs the job itself, whatever the probe would say, and never hands it on again.
void TestJobsProcess::withoutRightsTheJobGoesToAnElevatedCopy_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("pkexec");  // the stand-in's behaviour; empty: there is none
    QTest::addColumn<bool>("elevated");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");  // in result.json
    const QString notStarted = "Could not start the elevated game repair helper.";
    const QString handOver = "cd / && \"$@\"";
    // The plan holds its root and nothing else: a copy that runs the repair refuses it, 21.
    const QString refusedByCopy = "The game repair plan contains invalid metadata.";
    const auto row = [](const char* name, const char* mode, const QString& pkexec, bool elevated,
                        int code, const QString& message) {
        QTest::newRow(name) << mode << pkexec << elevated << code << message;
    };
    row("repair: the copy's code", "repair", handOver, false, 21, refusedByCopy);
    row("repair: declined", "repair", "(exit 126)", false, 26,
        "Administrator permission was declined.");
    row("repair: refused", "repair", "(exit 127)", false, 25, notStarted);
    row("repair: no pkexec", "repair", "", false, 25, notStarted);
    row("repair: the copy dies", "repair", "kill -9 $$", false, 25,
        "The elevated game repair helper did not finish correctly.");
    // This process ends while pkexec waits behind the gate, and never learns how it ended.
    row("update: handed over", "update", handOver, false, 0, "");
    row("update: declined", "update", "(exit 126)", false, 0, "");
    row("update: no pkexec", "update", "", false, 4, "");
    row("update, already the elevated copy", "update", handOver, true, 6, "");
    row("repair, already the elevated copy", "repair", handOver, true, 21, refusedByCopy);
}

void TestJobsProcess::withoutRightsTheJobGoesToAnElevatedCopy() {
    QFETCH(QString, mode);
    QFETCH(QString, pkexec);
    QFETCH(bool, elevated);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    SKIP_WITHOUT_DROPPING_PRIVILEGES();
    QTemporaryDir dir;
    const auto everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadOther | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(dir.path(), everyone));
    for (const char* sub : {"inst", "staging", "bin"}) {
        QVERIFY(QDir(dir.path()).mkdir(sub));
        QVERIFY(QFile::setPermissions(dir.filePath(sub), everyone | QFileDevice::WriteOther));
    }
    QVERIFY(QFile::setPermissions(dir.filePath("inst"), everyone & ~QFileDevice::WriteOwner));
    const QString program = harness::copyForEveryone(harness::executable(), dir.path());
    QVERIFY(!program.isEmpty());
    QVERIFY(writeFile(dir.filePath("staging/plan.json"),
                      "{\"installationRoot\":\"" + dir.filePath("inst").toUtf8() + "\"}"));
    // The gate holds a handed-over copy until this test opens it; the copy's code comes back
    // through "done". Both are FIFOs, so every wait here is on the other side's next step.
    const QString bin = dir.filePath("bin");
    const bool gated = mode == "update" && !elevated && !pkexec.isEmpty();
    if (!pkexec.isEmpty()) {
        const QByteArray script =
            "#!/bin/sh\n"
            "printf '%s\\n' \"$@\" > @BIN@/args\n"
            "[ -p @BIN@/gate ] && read go < @BIN@/gate\n"
            "@RUN@\n"
            "code=$?\n"
            "[ -p @BIN@/done ] && echo $code > @BIN@/done\n"
            "exit $code\n";
        QVERIFY(writeFile(
            bin + "/pkexec",
            QByteArray(script).replace("@BIN@", bin.toUtf8()).replace("@RUN@", pkexec.toUtf8())));
        QVERIFY(QFile::setPermissions(bin + "/pkexec", everyone));
    }
#ifndef Q_OS_WIN
    for (const char* fifo : {"/gate", "/done"}) {
        QVERIFY(!gated || (::mkfifo(QFile::encodeName(bin + fifo).constData(), 0666) == 0 &&
                           QFile::setPermissions(bin + fifo, everyone | QFileDevice::WriteOther)));
    }
#endif
    QStringList arguments =
        mode == "update" ? updateSwitches(QString::number(harness::endedProcessId()))
                         : QStringList{"--apply-game-repair", "--plan", "@DIR@/staging/plan.json"};
    arguments = expand(elevated ? arguments << "--elevated" : arguments, dir.path());
    const ProcessResult result =
        harness::run(arguments, harness::unprivilegedWrapper(), program, {"PATH=" + bin});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, exitCode);
    if (gated) {
        QFile gate(bin + "/gate"), done(bin + "/done");
        QVERIFY(gate.open(QIODevice::WriteOnly) && gate.write("\n") == 1);
        gate.close();
        QVERIFY(done.open(QIODevice::ReadOnly));
        // The copy ran the update (as nobody, so it failed), or the prompt was dismissed.
        QCOMPARE(done.readAll(),
                 pkexec.startsWith("(exit") ? pkexec.mid(6, 3).toUtf8() + '\n' : QByteArray("6\n"));
    }
    QCOMPARE(allEntries(dir.filePath("inst")), QStringList());
    // The copy sees the first process's arguments after its own program path, then
    // "--elevated"; the update's copy also element 0 of the first process.
    if (!elevated && !pkexec.isEmpty()) {
        QStringList handedOn = QStringList{program} + arguments + QStringList{"--elevated"};
        if (mode == "update") {
            handedOn.insert(1, program);
        }
        QCOMPARE(readFile(bin + "/args"), handedOn.join('\n').toUtf8() + '\n');
    }
    const QJsonObject written =
        QJsonDocument::fromJson(readFile(dir.filePath("staging/result.json"))).object();
    QCOMPARE(written.value("errorCode").toInt(-1), mode == "update" ? -1 : exitCode);
    QCOMPARE(written.value("message").toString(), message);
}

// While an update waits for its launcher, a second update and a repair of the same directory end
// at once and change nothing, and the first completes; a run killed while it holds the
// installation leaves it free for the next.
void TestJobsProcess::oneRunAtATime() {
    QTemporaryDir dir;
    const UpdateScenario s = updateScenario(dir.path(), false);
    QVERIFY(s.write());
    const auto stopLaunchers = qScopeGuard([&] { writeFile(s.ack + ".stop", {}); });
    const QStringList arguments = updateArguments(s, harness::endedProcessId());
    // Holds the installation until its launcher is told to acknowledge.
    const auto startWaiting = [&](QProcess& process) {
        QFile::remove(s.ack + ".pid");
        QFile::remove(s.ack + ".stop");
        return harness::start(process, arguments, {}, {}, {"LAUNCHERUPDATER_TEST_LAUNCHER=late"}) &&
               QTest::qWaitFor([&] { return QFile::exists(s.ack + ".pid"); }, 60000);
    };
    const QStringList acknowledge = {"LAUNCHERUPDATER_TEST_LAUNCHER=exit"};
    const QByteArray busy =
        "Another game repair or launcher update is running in this installation.";
    QProcess first;
    QVERIFY(startWaiting(first));
    QStringList second = arguments;
    second[second.indexOf("--ack") + 1] = harness::programPath(s.path("ack2"));
    const ProcessResult refused = harness::run(second, {}, {}, acknowledge);
    QCOMPARE(refused.exitCode, 6);
    QCOMPARE(refused.standardError.trimmed(), "launcher update failed: " + busy);
    RepairScenario repair(s.path("repair"));
    QVERIFY(repair.writeDocuments(harness::programPath(s.root)));
    QCOMPARE(harness::run(repairArguments(repair), {}, harness::testKeysExecutable()).exitCode, 25);
    QCOMPARE(readFile(repair.path("staging/result.json")),
             R"({"errorCode":25,"message":")" + busy + R"(","ok":false,"schemaVersion":1})");
    QCOMPARE(s.workDirectories().size(), 1);
    QVERIFY(writeFile(s.ack + ".stop", {}));
    QCOMPARE(harness::finish(first).exitCode, 0);
    QCOMPARE(installationTree(s.root), s.after());

    QProcess killed;
    QVERIFY(startWaiting(killed));
    killed.kill();
    QVERIFY(killed.waitForFinished(120000));
    QCOMPARE(harness::run(arguments, {}, {}, acknowledge).exitCode, 0);
    QCOMPARE(installationTree(s.root), s.after());
}

// SIGKILL at each call of the program that may change the file system and names an entry in the
// scratch directory, one after another (strace's fault injection; nothing in the program helps).
// After a killed repair, a run whose staging went bad meanwhile must undo what it did (or keep
// it, once committed), and a good run must then repair; after a killed update, what is on disk
// must be the old installation, the new one, or what the journal and the backups can undo.
void TestJobsProcess::crashAtEveryStep_data() {
    QTest::addColumn<bool>("update");
    QTest::newRow("repair") << false;
    QTest::newRow("full package update") << true;
}

void TestJobsProcess::crashAtEveryStep() {
    QFETCH(bool, update);
    SKIP_WITHOUT_STRACE();
    const QStringList calls = {
        "openat",    "mkdir",           "mkdirat",  "rmdir",    "rename", "renameat",  "renameat2",
        "link",      "linkat",          "unlink",   "unlinkat", "write",  "pwrite64",  "truncate",
        "ftruncate", "copy_file_range", "sendfile", "fchmod",   "fsync",  "fdatasync", "syncfs"};
    const quint32 parent = harness::endedProcessId();
    const auto layOut = [&](const QString& dir) {
        return update ? updateScenario(dir, false).write() : RepairScenario(dir).writeDocuments();
    };
    // Only the updater is traced, not the launcher it starts.
    const auto command = [&](const QString& dir) {
        return update ? QStringList{"-E", "LAUNCHERUPDATER_TEST_LAUNCHER=exit",
                                    harness::executable()} +
                            updateArguments(updateScenario(dir, false), parent)
                      : QStringList{"-f", harness::testKeysExecutable()} +
                            repairArguments(RepairScenario(dir, false));
    };
    QList<std::pair<QString, int>> points;
    {
        QTemporaryDir dir;
        QProcess counting;
        QVERIFY(layOut(dir.path()) &&
                traced(counting,
                       {"-y", "-o", dir.filePath("trace"), "-e", "trace=" + calls.join(',')},
                       command(dir.path())));
        QMap<QString, int> seen;
        const QString canonical = QFileInfo(dir.path()).canonicalFilePath();
        for (const QByteArray& line : readFile(dir.filePath("trace")).split('\n')) {
            // With -f, each line starts with the process id.
            const QString text = QString::fromUtf8(line).section(' ', update ? 0 : 1);
            const QString name = text.section('(', 0, 0);
            const int n = calls.contains(name) ? ++seen[name] : 0;
            if (n > 0 && (text.contains(dir.path()) || text.contains(canonical))) {
                points.append({name, n});
            }
        }
    }
    for (const auto& [call, n] : points) {
        const QByteArray where = call.toLatin1() + " #" + QByteArray::number(n) + ": ";
        QTemporaryDir dir;
        QProcess killed;
        QVERIFY(layOut(dir.path()) &&
                traced(killed,
                       {"-o", "/dev/null", "-e", "trace=" + call, "-e",
                        QString("inject=%1:signal=KILL:when=%2").arg(call).arg(n)},
                       command(dir.path())));
        QVERIFY2(killed.exitStatus() == QProcess::CrashExit || killed.exitCode() == 128 + 9,
                 where + "not killed");
        if (update) {
            const QString why = updateScenario(dir.path(), false).inconsistency();
            QVERIFY2(why.isEmpty(), where + why.toUtf8());
            continue;
        }
        RepairScenario s(dir.path(), false);
        const bool committed = !QFileInfo::exists(s.root() + "/.tavorin-repair-transaction.json") &&
                               fileTree(s.root()) == s.repaired();
        if (committed) {
            // A repair of the same generation dies before it moves a file: the backups the
            // first left must never come back over the repaired files.
            QProcess second;
            QVERIFY(traced(second,
                           {"-o", "/dev/null", "-e", "trace=renameat2", "-e",
                            "inject=renameat2:signal=KILL:when=1"},
                           command(dir.path())));
        }
        QVERIFY(s.spoilStaging(true));
        QCOMPARE(harness::run(repairArguments(s), {}, harness::testKeysExecutable()).exitCode, 23);
        QVERIFY2(fileTree(s.root()) == (committed ? s.repaired() : s.original()), where);
        QVERIFY(s.spoilStaging(false));
        QCOMPARE(harness::run(repairArguments(s), {}, harness::testKeysExecutable()).exitCode, 0);
        FileTree repaired = fileTree(s.root(), false);
        // The write probe's file, which a kill between its creation and removal leaves.
        repaired.removeIf(
            [](const auto& f) { return f.key().startsWith(".tavorin-update-probe-"); });
        QVERIFY2(repaired == s.repaired(), where);
    }
    qInfo() << points.size() << "kill points";
}

// What a power cut must not undo is on the disk first: the journal (data, then its name) before
// the first file moves; every file the repair wrote before the journal goes; the journal's
// removal before the first backup does.
void TestJobsProcess::durableBeforeEachStep() {
    SKIP_WITHOUT_STRACE();
    QTemporaryDir dir;
    RepairScenario s(dir.path());
    QVERIFY(s.writeDocuments());
    QProcess process;
    QVERIFY(traced(
        process,
        {"-f", "-y", "-o", dir.filePath("trace"), "-e",
         "trace=fdatasync,fsync,syncfs,renameat,renameat2,unlinkat", harness::testKeysExecutable()},
        repairArguments(s)));
    QCOMPARE(process.exitCode(), 0);
    const QString root = QFileInfo(s.root()).canonicalFilePath();
    const QList<QByteArray> calls = readFile(dir.filePath("trace")).split('\n');
    // The first call at or after `from` (lines start with the process id) that matches.
    const auto first = [&](const QString& pattern, qsizetype from = 0) {
        const QRegularExpression expression(pattern);
        for (qsizetype i = qMax(from, qsizetype(0)); i < calls.size(); ++i) {
            if (expression.match(QString::fromUtf8(calls[i])).hasMatch()) {
                return i;
            }
        }
        return qsizetype(-1);
    };
    // Every call works relative to a directory held open: strace -y names it in <...>.
    const QString atRoot = "\\d+<" + QRegularExpression::escape(root) + ">";
    const QString name = "\\.tavorin-repair-transaction\\.json";
    QList<qsizetype> order = {
        first(" fdatasync\\(\\d+<" + QRegularExpression::escape(root) + "/" + name + "\\.")};
    order << first(" renameat\\(" + atRoot + ", \"" + name + "\\.[0-9a-f]{12}\", " + atRoot +
                       ", \"" + name + "\"",
                   order.last());
    order << first(" fsync\\(" + atRoot, order.last()) << first(" renameat2\\(", order.last());
    order << first(" syncfs\\(", order.last())
          << first(" unlinkat\\(" + atRoot + ", \"" + name + "\", 0\\)", order.last());
    order << first(" fsync\\(" + atRoot, order.last())
          << first(" unlinkat\\(\\d+<[^>]*/\\.tavorin-backup/", order.last());
    QVERIFY2(!order.contains(-1), qPrintable(QDebug::toString(order)));
    QCOMPARE(first(" renameat2\\(", order[4]), -1);  // nothing moved after the sync
}

QTEST_GUILESS_MAIN(TestJobsProcess)
#include "tst_jobs_process.moc"
