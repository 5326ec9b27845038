// The whole program against temporary directories, judged by its exit code, result.json, its log
// lines and the files it leaves: both jobs' rules, the command line, the wait for the launcher,
// the hand-over to an elevated copy and one run at a time; and the program killed at every call
// that may change the file system, its flushes in order.
#include <signal.h>
#include <sys/stat.h>

#include <QtTest>
#include <cerrno>

#include "file_fixtures.h"
#include "job_rows.h"
#include "process_harness.h"

using namespace testsupport;

namespace {

QStringList repairArguments(const RepairScenario& s) {
    return {"--apply-game-repair", "--plan", harness::programPath(s.planPath())};
}

// result.json as a repair that ended with `code` and `message` leaves it.
QByteArray resultFile(int code, const QString& message) {
    QJsonObject result{{"errorCode", code}, {"message", message}, {"ok", code == 0}};
    result.insert("schemaVersion", 1);
    return QJsonDocument(result).toJson(QJsonDocument::Compact);
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
    const QString staged = row.stagedRoot.isEmpty() ? s.staging : row.stagedRoot;
    QStringList arguments = {"--apply-update", "--version", "2.0", "--parent-pid",
                             QString::number(parentPid)};
    arguments << "--install-root" << harness::programPath(s.root) << "--ack"
              << harness::programPath(s.ack) << "--staged-root" << harness::programPath(staged);
    const QString plan = row.deltaPlan.isEmpty() ? s.planPath() : row.deltaPlan;
    if (s.delta) {
        arguments << "--delta-plan" << harness::programPath(plan) << "--from-version"
                  << "1.0";
    }
    return row.elevated ? arguments << "--elevated" : arguments;
}

// An update command line for the scratch directory @DIR@ (see expand()); @PID@ the launcher's id.
const QString kUpdate =
    "--apply-update --install-root @DIR@/inst --staged-root @DIR@/staged --version 2.0.0 --ack "
    "@DIR@/ack --parent-pid @PID@";

// `arguments` split at spaces, @DIR@ replaced by the scratch directory as the program sees it.
QStringList expand(const QString& arguments, const QString& dir, const QString& parentPid = "1") {
    return arguments.isEmpty() ? QStringList()
                               : QString(arguments)
                                     .replace("@PID@", parentPid)
                                     .split(' ')
                                     .replaceInStrings("@DIR@", harness::programPath(dir));
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
    void updateWaitsForItsLauncher();
    void withoutRightsTheJobGoesToAnElevatedCopy_data();
    void withoutRightsTheJobGoesToAnElevatedCopy();
    void oneRunAtATime();
    void crashAtEveryStep_data();
    void crashAtEveryStep();
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
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const QString plan = QByteArray(r.setup) == "relative" ? "staging/plan.json"
                                                           : harness::programPath(s.planPath());
    const ProcessResult result =
        harness::run({"--apply-game-repair", "--plan", plan}, {}, harness::testKeysExecutable());
    QDir::setCurrent(previous);
    QVERIFY(result.finished);
    QCOMPARE(readFile(s.path("staging/result.json")), resultFile(r.code, r.message));
    QCOMPARE(result.standardError.trimmed(),
             r.code == 0 ? QByteArray() : "game repair helper failed: " + QByteArray(r.message));
    checkRepairRun(r, s, outside, result.exitCode, r.message);
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
    const QByteArray message = r.message, logged = result.standardError.trimmed();
    const QByteArray failure = message.isEmpty() ? "" : "launcher update failed: " + message;
    QVERIFY2(result.exitCode == (message.isEmpty() ? 0 : 6) &&
                 (changes.elevated ? logged.endsWith(failure) : logged == failure),
             logged.constData());
    checkUpdateRun(r, s, before, outside, r.message);
    if (QTest::currentTestFailed()) {
        return;
    }
    if (message.endsWith("The updated launcher did not start successfully.")) {
        const QString work = s.root + "/.tavorin-update/" + s.workDirectories().value(0);
        QCOMPARE(QUuid::fromString(work.section('/', -1)).toString(QUuid::WithoutBraces),
                 work.section('/', -1));
        QCOMPARE(readFile(work + "/journal.json"),
                 QJsonDocument(s.journal()).toJson(QJsonDocument::Compact));
        QCOMPARE(s.journal().value("phase"), "rolled-back");
        QCOMPARE(fileTree(work + "/backup", false), FileTree());
    }
    if (!message.isEmpty()) {
        // Gone, and reaped, before the updater rolled back. Under Wine the file holds a Windows
        // process id, which no POSIX call can look up.
        const pid_t pid = readFile(s.ack + ".pid").toInt();  // 0: the launcher wrote none
        QVERIFY(harness::underWine() || pid == 0 || (::kill(pid, 0) == -1 && errno == ESRCH));
        return;
    }
    QCOMPARE(readFile(s.ack), QByteArray(r.launcher) == "empty"
                                  ? QByteArray()
                                  : "--update-ack\n" + harness::programPath(s.ack).toUtf8() + '\n');
    if (QByteArray(r.launcher) == "stay") {
        // The launcher outlives the updater, and still answers.
        QVERIFY(!QFile::exists(s.ack + ".done"));
        QVERIFY(writeFile(s.ack + ".stop", {}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(s.ack + ".done"), 30000);
    }
}

// Command lines refused before any work: nothing is written but the missing installation root
// the write probe makes before the pid is judged (code 5), nothing is logged. A readable
// plan.json stands in the scratch directory, so that a plan taken from the wrong argument shows,
// and number.json, whose root is a number.
void TestJobsProcess::refusedCommandLine_data() {
    QTest::addColumn<QString>("arguments");  // for expand(); @U@: an update's
    QTest::addColumn<int>("exitCode");
    const auto row = [](const char* name, const QString& arguments, int code) {
        QTest::newRow(name) << QString(arguments).replace("@U@", kUpdate) << code;
    };
    const auto update = [](const QString& from, const QString& to) {
        return QString(kUpdate).replace(from, to);
    };
    // clang-format off
    row("no arguments", "", 2);
    row("mode switch in other case", "--Apply-update" + kUpdate.mid(14), 2);
    row("repair without plan", "--apply-game-repair", 20);
    row("plan stands last", "--apply-game-repair --plan", 20);
    row("first occurrence of a switch wins", "--apply-game-repair --plan @DIR@/no.json --plan @DIR@/plan.json", 20);
    row("repair wins over a valid update", "--apply-game-repair @U@", 20);
    row("Qt's own switch is the plan's value", "--apply-game-repair --plan --qmljsdebugger=x @DIR@/plan.json", 20);
    row("plan root a number", "--apply-game-repair --plan @DIR@/number.json", 20);
    row("pid in hexadecimal", update("@PID@", "0x10"), 3);
    row("empty install root", update("@DIR@/inst", ""), 3);
    row("no ack", update("--ack @DIR@/ack ", ""), 3);
    row("delta plan without from-version", "@U@ --delta-plan @DIR@/staged/p.json", 3);
    row("from-version without delta plan", "@U@ --from-version 1.0.0", 3);
    row("parent pid 0", update("@PID@", "0"), 5);
    // clang-format on
}

void TestJobsProcess::refusedCommandLine() {
    QFETCH(QString, arguments);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    const QString game = harness::programPath(dir.filePath("game"));
    QVERIFY(writeFile(dir.filePath("plan.json"),
                      QJsonDocument(QJsonObject{{"installationRoot", game}}).toJson()) &&
            writeFile(dir.filePath("number.json"), R"({"installationRoot":5})"));
    const ProcessResult result = harness::run(expand(arguments, dir.path()));
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.standardError, QByteArray());
    QStringList written = {"number.json", "plan.json"};
    QCOMPARE(fileTree(dir.path(), false, true).keys(),
             exitCode == 5 ? QStringList{"inst"} + written : written);
}

// The update waits for the launcher that started it to end.
void TestJobsProcess::updateWaitsForItsLauncher() {
    QTemporaryDir dir;
    QProcess launcher, updater;
    const quint32 pid = harness::startStandInLauncher(launcher);
    QVERIFY(pid != 0);
    QVERIFY(harness::start(updater, expand(kUpdate, dir.path(), QString::number(pid))));
    QVERIFY(!updater.waitForFinished(1000));  // bounded: still waiting for the launcher
    launcher.closeWriteChannel();
    QVERIFY(launcher.waitForFinished());
    QCOMPARE(harness::finish(updater).exitCode, 6);  // the staged root does not exist
}

// Run as user nobody against an installation it may not write (a repair's root a missing
// directory below it), with a stand-in pkexec on PATH that records what it was given and then
// behaves as the row says: hands over to the program as the real one does (as nobody, here: the
// copy then fails on its own terms), is dismissed (126), refuses (127), dies, or is missing. A
// process given "--elevated" is the elevated copy: it runs the job itself, whatever the probe
// would say, and never hands it on again (a handed-over repair's copy shows that too).
void TestJobsProcess::withoutRightsTheJobGoesToAnElevatedCopy_data() {
    QTest::addColumn<QString>("pkexec");  // the stand-in's behaviour; empty: there is none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");  // in result.json
    const QString notStarted = "Could not start the elevated game repair helper.";
    const QString handOver = "cd / && \"$@\"";
    // The plan holds its root and nothing else: a copy that runs the repair refuses it, 21.
    const QString refusedByCopy = "The game repair plan contains invalid metadata.";
    const auto row = [](const char* name, const QString& pkexec, int code, const QString& message) {
        QTest::newRow(name) << pkexec << code << message;
    };
    row("repair: the copy's code", handOver, 21, refusedByCopy);
    row("repair: declined", "(exit 126)", 26, "Administrator permission was declined.");
    row("repair: refused", "(exit 127)", 25, notStarted);
    row("repair: no pkexec", "", 25, notStarted);
    row("repair: the copy dies", "kill -9 $$", 25,
        "The elevated game repair helper did not finish correctly.");
    // This process ends while the copy still runs, and never learns how it ended.
    row("update: handed over", handOver, 0, "");
    row("update: no pkexec", "", 4, "");
    row("update, already elevated", handOver, 6, "");
}

void TestJobsProcess::withoutRightsTheJobGoesToAnElevatedCopy() {
    QFETCH(QString, pkexec);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    SKIP_WITHOUT_DROPPING_PRIVILEGES();
    const bool update = QByteArray(QTest::currentDataTag()).startsWith("update");
    const bool elevated = QByteArray(QTest::currentDataTag()).endsWith("elevated");
    QTemporaryDir dir;
    const QString bin = dir.filePath("bin");
    const QString program = harness::copyForEveryone(harness::executable(), dir.path());
    const QByteArray plan = "{\"installationRoot\":\"" + dir.filePath("inst/game").toUtf8() + "\"}";
    const QByteArray script = "#!/bin/sh\nd=${0%/*}\nprintf '%s\\n' \"$@\" > $d/args\n" +
                              pkexec.toUtf8() +
                              "\ncode=$?\n[ -p $d/done ] && echo $code > $d/done\nexit $code\n";
    // A row without pkexec has the script under another name.
    QVERIFY(!program.isEmpty() && QDir(dir.path()).mkpath("inst") &&
            writeTree(dir.path(), {{"staging/plan.json", plan},
                                   {pkexec.isEmpty() ? "bin/none" : "bin/pkexec", script}}));
    // The copy of a handed-over update says its code through the FIFO "done", which only opens
    // once this test reads it: after the first process has ended.
    const bool detached = update && !elevated && !pkexec.isEmpty();
    QVERIFY(!detached || ::mkfifo(QFile::encodeName(bin + "/done"), 0600) == 0);
    // User nobody may enter all of it and write staging and bin, but not inst.
    const QList<std::pair<QString, mode_t>> modes = {{"", 0705},           {"staging", 0707},
                                                     {"bin", 0707},        {"inst", 0505},
                                                     {"bin/pkexec", 0755}, {"bin/done", 0666}};
    for (const auto& [name, mode] : modes) {
        const QString path = dir.filePath(name);
        QVERIFY(!QFileInfo(path).exists() || ::chmod(QFile::encodeName(path), mode) == 0);
    }
    const QStringList arguments =
        expand((update ? kUpdate : "--apply-game-repair --plan @DIR@/staging/plan.json") +
                   (elevated ? " --elevated" : ""),
               dir.path(), QString::number(harness::endedProcessId()));
    const ProcessResult result =
        harness::run(arguments, harness::unprivilegedWrapper(), program, {"PATH=" + bin});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, exitCode);
    QFile done(bin + "/done");
    // The copy ran the update, as nobody, so it failed.
    QVERIFY(!detached || (done.open(QIODevice::ReadOnly) && done.readAll() == "6\n"));
    QCOMPARE(fileTree(dir.filePath("inst"), false, true), FileTree());
    // The copy sees the first process's arguments after its own program path, then
    // "--elevated"; the update's copy also element 0 of the first process.
    const QStringList handedOn =
        QStringList(update ? 2 : 1, program) + arguments + QStringList{"--elevated"};
    QCOMPARE(readFile(bin + "/args"), elevated || pkexec.isEmpty()
                                          ? QByteArray("<unreadable>")
                                          : handedOn.join('\n').toUtf8() + '\n');
    QCOMPARE(readFile(dir.filePath("staging/result.json")),
             update ? QByteArray("<unreadable>") : resultFile(exitCode, message));
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
    // Holds the installation until its launcher is told to stop waiting: "late" then
    // acknowledges, "never" (the one left behind by a killed run) does not.
    const auto startWaiting = [&](QProcess& process, const QString& launcher) {
        QFile::remove(s.ack + ".pid");
        QFile::remove(s.ack + ".stop");
        return harness::start(process, arguments, {}, {},
                              {"LAUNCHERUPDATER_TEST_LAUNCHER=" + launcher}) &&
               QTest::qWaitFor([&] { return QFile::exists(s.ack + ".pid"); }, 60000);
    };
    const QStringList acknowledge = {"LAUNCHERUPDATER_TEST_LAUNCHER=exit"};
    const QString busy = "Another game repair or launcher update is running in this installation.";
    QProcess first;
    QVERIFY(startWaiting(first, "late"));
    QStringList second = arguments;
    second[second.indexOf("--ack") + 1] = harness::programPath(s.path("ack2"));
    const ProcessResult refused = harness::run(second, {}, {}, acknowledge);
    QCOMPARE(refused.exitCode, 6);
    QCOMPARE(refused.standardError.trimmed(), "launcher update failed: " + busy.toUtf8());
    RepairScenario repair(s.path("repair"));
    QVERIFY(repair.writeDocuments(harness::programPath(s.root)));
    QCOMPARE(harness::run(repairArguments(repair), {}, harness::testKeysExecutable()).exitCode, 25);
    QCOMPARE(readFile(repair.path("staging/result.json")), resultFile(25, busy));
    QCOMPARE(s.workDirectories().size(), 1);
    QVERIFY(writeFile(s.ack + ".stop", {}));
    QCOMPARE(harness::finish(first).exitCode, 0);
    QCOMPARE(installationTree(s.root), s.after());

    QProcess killed;
    QVERIFY(startWaiting(killed, "never"));
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
// The trace of the whole repair also shows its flushes in order.
void TestJobsProcess::crashAtEveryStep_data() {
    QTest::addColumn<bool>("update");
    QTest::newRow("repair") << false;
    QTest::newRow("full package update") << true;
}

void TestJobsProcess::crashAtEveryStep() {
    QFETCH(bool, update);
    if (harness::underWine() || strace().isEmpty()) {
        QSKIP("strace traces Linux system calls: not under Wine, nor where it is not installed");
    }
    const QStringList calls = {
        "openat",    "mkdir",           "mkdirat",  "rmdir",    "rename", "renameat",  "renameat2",
        "link",      "linkat",          "unlink",   "unlinkat", "write",  "pwrite64",  "truncate",
        "ftruncate", "copy_file_range", "sendfile", "fchmod",   "fsync",  "fdatasync", "syncfs"};
    const quint32 parent = harness::endedProcessId();
    const auto layOut = [&](const QString& dir) {
        return update ? updateScenario(dir, false).write() : RepairScenario(dir).writeDocuments();
    };
    // Only the updater is traced, not the launcher it starts; the repair with its threads.
    const auto command = [&](const QString& dir) {
        return update ? QStringList{"-E", "LAUNCHERUPDATER_TEST_LAUNCHER=exit",
                                    harness::executable()} +
                            updateArguments(updateScenario(dir, false), parent)
                      : QStringList{"-f", harness::testKeysExecutable()} +
                            repairArguments(RepairScenario(dir, false));
    };
    QList<std::pair<QString, int>> points;
    QTemporaryDir counted;
    QProcess counting;
    QVERIFY(layOut(counted.path()) &&
            traced(counting,
                   {"-y", "-o", counted.filePath("trace"), "-e", "trace=" + calls.join(',')},
                   command(counted.path())));
    QCOMPARE(counting.exitCode(), 0);
    // With -f, each line starts with the thread's id.
    const QStringList lines =
        QString::fromUtf8(readFile(counted.filePath("trace")))
            .remove(QRegularExpression("^\\d+ +", QRegularExpression::MultilineOption))
            .split('\n');
    QMap<QString, int> seen;
    const QString canonical = QFileInfo(counted.path()).canonicalFilePath();
    for (const QString& line : lines) {
        const QString name = line.section('(', 0, 0);
        const int n = calls.contains(name) ? ++seen[name] : 0;
        if (n > 0 && (line.contains(counted.path()) || line.contains(canonical))) {
            points.append({name, n});
        }
    }
    QVERIFY(!points.isEmpty());
    if (!update) {
        // What a power cut must not undo is on the disk first: the journal (data, then its name)
        // before the first file moves; every file the repair wrote before the journal goes; the
        // journal's removal before the first backup does; nothing moved after that sync. Every
        // call works relative to a directory held open, which strace -y names in <...>.
        const QString root =
            QRegularExpression::escape(QFileInfo(counted.filePath("inst")).canonicalFilePath());
        const QString at = "\\d+<" + root + ">", journal = "\\.tavorin-repair-transaction\\.json";
        const QStringList order = {"fdatasync\\(\\d+<" + root + "/" + journal + "\\.",
                                   "renameat\\(" + at + ", \"" + journal + "\\.[0-9a-f]{12}\", " +
                                       at + ", \"" + journal + "\"",
                                   "fsync\\(" + at,
                                   "renameat2\\(",
                                   "syncfs\\(",
                                   "unlinkat\\(" + at + ", \"" + journal + "\", 0\\)",
                                   "fsync\\(" + at,
                                   "unlinkat\\(\\d+<[^>]*/\\.tavorin-backup/"};
        qsizetype from = 0;
        for (const QString& step : order) {
            from = lines.indexOf(QRegularExpression(step + ".*"), from);
            QVERIFY2(from >= 0, qPrintable("not in order: " + step));
            QVERIFY(!step.startsWith("syncfs") ||
                    lines.indexOf(QRegularExpression("renameat2\\(.*"), from) < 0);
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

QTEST_GUILESS_MAIN(TestJobsProcess)
#include "tst_jobs_process.moc"
