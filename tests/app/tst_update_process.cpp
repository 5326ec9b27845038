// The launcher update as a whole process: the updater applies a staged full package or delta and
// starts the test launcher as the new ClientLauncher.exe, which answers in each of the ways a
// launcher can; judged by the exit code, the installation, the journal and the acknowledgement.
// And the updater killed at every call of it that may change the file system.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QUuid>
#include <QtTest>
#include <algorithm>

#include "file_fixtures.h"
#include "process_harness.h"
#include "repair_scenario.h"
#include "update_scenario.h"

#ifndef Q_OS_WIN
#include <signal.h>

#include <cerrno>
#endif

using testsupport::FileTree;

namespace {

using testsupport::UpdateScenario;

QStringList updateArguments(const UpdateScenario& s, quint32 parentPid) {
    QStringList arguments = {"--apply-update", "--version", "2.0", "--parent-pid",
                             QString::number(parentPid)};
    arguments << "--install-root" << harness::programPath(s.root);
    arguments << "--staged-root" << harness::programPath(s.staging);
    arguments << "--ack" << harness::programPath(s.ack);
    if (s.delta) {
        arguments << "--delta-plan" << harness::programPath(s.planPath()) << "--from-version"
                  << "1.0";
    }
    return arguments;
}

// The scenario with the test launcher staged as the new ClientLauncher.exe.
bool write(UpdateScenario& s) {
    s.staged.insert("ClientLauncher.exe", testsupport::readFile(harness::testLauncher()));
    return s.write();
}

// Journal entries as compact JSON lines, sorted: the walk of a full package has no fixed order.
QStringList entryLines(const QJsonArray& entries) {
    QStringList lines;
    for (const QJsonValue& entry : entries) {
        lines << QJsonDocument(entry.toObject()).toJson(QJsonDocument::Compact);
    }
    lines.sort();
    return lines;
}

// The entries of every path the update of `s` touches; an original under a directory removed
// before it is gone by the time its path comes.
QStringList expectedEntries(const UpdateScenario& s) {
    QJsonArray entries;
    const FileTree before = s.before();
    for (const QString& path : s.removed + s.staged.keys()) {
        const bool underRemoved =
            std::any_of(s.removed.cbegin(), s.removed.cend(),
                        [&](const QString& r) { return path.startsWith(r + '/'); });
        entries.append(QJsonObject{{"hadOriginal", before.contains(path) && !underRemoved},
                                   {"path", path},
                                   {"replacement", s.staged.contains(path)}});
    }
    return entryLines(entries);
}

QString strace() {
    return QStandardPaths::findExecutable("strace");
}

// Runs a full-package update of `s` under strace with `options`, the launcher acknowledging.
// Only the updater is traced: the launcher's own calls are none of its steps.
bool underStrace(QProcess& process, const UpdateScenario& s, const QStringList& options) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LAUNCHERUPDATER_TEST_LAUNCHER", "exit");
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    const quint32 parent = harness::endedProcessId();
    // LeakSanitizer cannot work under ptrace: in the sanitized build it would fail the run.
    process.start(strace(), QStringList{"-E", "LSAN_OPTIONS=detect_leaks=0", "-qq"} + options +
                                QStringList{harness::executable()} + updateArguments(s, parent));
    return parent != 0 && process.waitForFinished(120000);
}

}  // namespace

class TestUpdateProcess : public QObject {
    Q_OBJECT

private slots:
    void updates_data();
    void updates();
    void crashAtEveryStep();
    void oneRunAtATime();
};

void TestUpdateProcess::updates_data() {
    QTest::addColumn<bool>("delta");
    QTest::addColumn<QString>("launcher");  // how the test launcher answers
    QTest::addColumn<QString>("atAck");     // what stands at the acknowledgement path before
    QTest::addColumn<QString>("rootName");
    QTest::addColumn<QString>("ackName");
    QTest::addColumn<int>("exitCode");

    const auto row = [](const char* name, bool delta, const char* launcher, const char* atAck,
                        int exitCode, const QString& rootName = "inst",
                        const QString& ackName = "ack") {
        QTest::newRow(name) << delta << QString(launcher) << QString(atAck) << rootName << ackName
                            << exitCode;
    };
    row("full, the launcher stays; spaces and non-ASCII in the paths", false, "stay", "", 0,
        QString::fromUtf8("Launcher Ünïcödé 启动器"), QString::fromUtf8("ack é 確認"));
    row("delta, the launcher acknowledges and ends", true, "exit", "", 0);
    // One left by an earlier update counts only when the launcher writes it anew.
    row("an acknowledgement there before the start, rewritten", false, "exit", "file", 0);
    row("an acknowledgement there before the start, left as it was", false, "no-ack", "file", 6);
    row("the launcher ends without acknowledging", false, "no-ack", "", 6);
    row("the launcher acknowledges with an empty file", false, "empty", "", 0);
    // Within the 150 polls of 100 ms.
    row("the launcher acknowledges after 3 seconds", true, "slow", "", 0);
    row("full, the launcher crashes", false, "crash", "", 6);
    row("delta, the launcher crashes", true, "crash", "", 6);
    row("a directory at the acknowledgement path", false, "exit", "directory", 6);
    // About 15 seconds: the updater gives the launcher 150 polls of 100 ms.
    row("the launcher never acknowledges and is ended", false, "never", "", 6);
    // Its helper holds the new launcher open: it must be gone before the rollback.
    row("the launcher ends, its helper runs on", true, "helper", "", 6);
    // Windows names cannot hold a double quote, and a trailing backslash names the directory.
    if (!harness::underWine()) {
        row("double quotes and a trailing backslash in the paths", true, "exit", "", 0,
            "inst \"q\" \\", "ack \"q\" \\");
    }
}

void TestUpdateProcess::updates() {
    QFETCH(bool, delta);
    QFETCH(QString, launcher);
    QFETCH(QString, atAck);
    QFETCH(QString, rootName);
    QFETCH(QString, ackName);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    UpdateScenario s(dir.path(), delta, rootName, ackName);
    QVERIFY(write(s));
    // A launcher left running by a failed check ends before the scratch directory goes.
    const auto stopLauncher = qScopeGuard([&] { testsupport::writeFile(s.ack + ".stop", {}); });
    if (atAck == "file") {
        QVERIFY(testsupport::writeFile(s.ack, "earlier"));
    } else if (atAck == "directory") {
        QVERIFY(QDir().mkdir(s.ack));
    }
    const quint32 parent = harness::endedProcessId();
    QVERIFY(parent != 0);
    const ProcessResult result = harness::run(updateArguments(s, parent), {}, QString(),
                                              {"LAUNCHERUPDATER_TEST_LAUNCHER=" + launcher});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, exitCode);

    const QStringList work = s.workDirectories();
    if (exitCode == 0) {
        QCOMPARE(result.standardError, QByteArray());
        QCOMPARE(testsupport::installationTree(s.root), s.after());
        QCOMPARE(work, QStringList());
        QCOMPARE(testsupport::readFile(s.ack),
                 launcher == "empty"
                     ? QByteArray()
                     : "--update-ack\n" + harness::programPath(s.ack).toUtf8() + '\n');
        if (launcher == "stay") {
            // The launcher outlives the updater, and still answers.
            QVERIFY(!QFile::exists(s.ack + ".done"));
            QVERIFY(testsupport::writeFile(s.ack + ".stop", {}));
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(s.ack + ".done"), 30000);
        }
        return;
    }
    QVERIFY2(result.standardError.contains(
                 "launcher update failed: The updated launcher did not start successfully."),
             result.standardError.constData());
    QCOMPARE(testsupport::installationTree(s.root), s.before());
    QCOMPARE(work.size(), 1);
    QCOMPARE(QUuid::fromString(work.first()).toString(QUuid::WithoutBraces), work.first());
    const QString workDirectory = s.root + "/.tavorin-update/" + work.first();
    const QByteArray written = testsupport::readFile(workDirectory + "/journal.json");
    const QJsonObject journal = QJsonDocument::fromJson(written).object();
    QCOMPARE(written, QJsonDocument(journal).toJson(QJsonDocument::Compact));
    QCOMPARE(journal.value("schemaVersion"), QJsonValue(1));
    QCOMPARE(journal.value("phase"), QJsonValue("rolled-back"));
    QCOMPARE(entryLines(journal.value("files").toArray()), expectedEntries(s));
    QCOMPARE(testsupport::fileTree(workDirectory + "/backup", false), FileTree());
    if (launcher == "never" || launcher == "helper") {
        QVERIFY(QFile::exists(s.ack + ".pid"));
#ifndef Q_OS_WIN
        // Under Wine the file holds a Windows process id, which no POSIX call can look up.
        if (!harness::underWine()) {
            const pid_t pid = testsupport::readFile(s.ack + ".pid").toInt();
            QVERIFY(pid > 0);
            // Gone, and reaped, before the updater rolled back.
            QVERIFY(::kill(pid, 0) == -1 && errno == ESRCH);
        }
#endif
    }
}

// SIGKILL at each call of the updater that may change the file system, one after another
// (strace's fault injection), in a full-package update; after each kill, what is on disk must
// be the old installation, the new one, or what the journal and the backups can undo.
void TestUpdateProcess::crashAtEveryStep() {
    SKIP_WHERE_WINE_CANNOT();
    if (strace().isEmpty()) {
        QSKIP("strace is not installed (scripts/install-deps.sh installs it)");
    }
    const QStringList calls = {
        "openat",    "mkdir",           "mkdirat",  "rmdir",    "rename", "renameat",  "renameat2",
        "link",      "linkat",          "unlink",   "unlinkat", "write",  "pwrite64",  "truncate",
        "ftruncate", "copy_file_range", "sendfile", "fchmod",   "fsync",  "fdatasync", "syncfs"};
    // The kill points: every such call that names an entry in the scratch directory, by its
    // number among the calls of its name. The others (the loader opening libraries, the log
    // line) cannot change the installation.
    QList<std::pair<QString, int>> points;
    QMap<QString, int> counts;
    {
        QTemporaryDir dir;
        UpdateScenario s(dir.path(), false);
        QVERIFY(write(s));
        QProcess counting;
        QVERIFY(underStrace(counting, s,
                            {"-y", "-o", dir.filePath("trace"), "-e", "trace=" + calls.join(',')}));
        QCOMPARE(testsupport::installationTree(s.root), s.after());
        QMap<QString, int> seen;
        const QString canonical = QFileInfo(dir.path()).canonicalFilePath();
        for (const QByteArray& line : testsupport::readFile(dir.filePath("trace")).split('\n')) {
            const QString text = QString::fromUtf8(line);
            const QString name = text.section('(', 0, 0);
            if (!calls.contains(name)) {
                continue;
            }
            const int n = ++seen[name];
            if (text.contains(dir.path()) || text.contains(canonical)) {
                points.append({name, n});
                ++counts[name];
            }
        }
    }
    for (const auto& [call, n] : points) {
        const QString where = call + " #" + QString::number(n) + ": ";
        QTemporaryDir dir;
        UpdateScenario s(dir.path(), false);
        QVERIFY(write(s));
        QProcess killed;
        QVERIFY(underStrace(killed, s,
                            {"-o", "/dev/null", "-e", "trace=" + call, "-e",
                             QString("inject=%1:signal=KILL:when=%2").arg(call).arg(n)}));
        QVERIFY2(killed.exitStatus() == QProcess::CrashExit || killed.exitCode() == 128 + 9,
                 qPrintable(where + "not killed"));
        const QString why = s.inconsistency();
        QVERIFY2(why.isEmpty(), qPrintable(where + why));
    }
    qInfo() << points.size() << "kill points:" << counts;
}

// While an update waits for its launcher, a second update and a repair of the same directory end
// at once and change nothing, and the first completes; a run killed while it holds the
// installation leaves it free for the next.
void TestUpdateProcess::oneRunAtATime() {
    QTemporaryDir dir;
    UpdateScenario s(dir.path(), false);
    QVERIFY(write(s));
    const auto stopLaunchers = qScopeGuard([&] { testsupport::writeFile(s.ack + ".stop", {}); });
    const quint32 parent = harness::endedProcessId();
    QVERIFY(parent != 0);
    const QStringList arguments = updateArguments(s, parent);
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
    QVERIFY2(refused.standardError.contains("launcher update failed: " + busy),
             refused.standardError.constData());
    testsupport::RepairScenario repair(s.path("repair"));
    QVERIFY(repair.writeDocuments(harness::programPath(s.root)));
    const ProcessResult repaired =
        harness::run({"--apply-game-repair", "--plan", harness::programPath(repair.planPath())}, {},
                     harness::testKeysExecutable());
    QCOMPARE(repaired.exitCode, 25);
    QCOMPARE(testsupport::readFile(repair.path("staging/result.json")),
             R"({"errorCode":25,"message":")" + busy + R"(","ok":false,"schemaVersion":1})");
    QCOMPARE(s.workDirectories().size(), 1);
    QVERIFY(testsupport::writeFile(s.ack + ".stop", {}));
    QCOMPARE(harness::finish(first).exitCode, 0);
    QCOMPARE(testsupport::installationTree(s.root), s.after());

    QProcess killed;
    QVERIFY(startWaiting(killed));
    killed.kill();
    QVERIFY(killed.waitForFinished(120000));
    QCOMPARE(harness::run(arguments, {}, {}, acknowledge).exitCode, 0);
    QCOMPARE(testsupport::installationTree(s.root), s.after());
}

QTEST_GUILESS_MAIN(TestUpdateProcess)
#include "tst_update_process.moc"
