// Whole-process tests: the built executable run against temporary directories, judged by its
// exit code, result.json, its log lines and the files it leaves.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include "file_fixtures.h"
#include "process_harness.h"

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {

QStringList allEntries(const QString& directory) {
    QStringList entries;
    QDirIterator it(directory,
                    QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        entries << QDir(directory).relativeFilePath(it.next());
    }
    entries.sort();
    return entries;
}

// Replaces @DIR@ in each argument by the scratch directory as the program must see it.
QStringList expand(const QStringList& arguments, const QString& dir) {
    QStringList expanded;
    for (const QString& argument : arguments) {
        expanded << QString(argument).replace(QStringLiteral("@DIR@"), harness::programPath(dir));
    }
    return expanded;
}

QStringList updateSwitches(const QString& parentPid) {
    return {"--apply-update", "--install-root", "@DIR@/inst", "--staged-root",
            "@DIR@/staged",   "--version",      "2.0.0",      "--ack",
            "@DIR@/ack",      "--parent-pid",   parentPid};
}

const QByteArray kUpdateFailedLine = "launcher update failed: ";
const QByteArray kRepairFailedLine = "game repair helper failed: ";

}  // namespace

class TestProcess : public QObject {
    Q_OBJECT

private slots:
    void refusedCommandLine_data();
    void refusedCommandLine();
    void unreadablePlan_data();
    void unreadablePlan();
    void updateGoesOnWhenParentIsGone();
    void updateWaitsForRunningParent();
    void updateRefusesOwnProcessAsParent();
    void withoutRightsTheJobGoesToAnElevatedCopy_data();
    void withoutRightsTheJobGoesToAnElevatedCopy();
};

// Command lines refused before any work: nothing is written, nothing is logged. A readable
// plan.json stands in the scratch directory, so that a plan taken from the wrong argument shows.
void TestProcess::refusedCommandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("leftBehind");  // what else may exist in the scratch directory

    QTest::newRow("no arguments") << QStringList{} << 2 << QStringList{};
    QTest::newRow("mode switch in other case")
        << (QStringList{"--Apply-update"} + updateSwitches("1").mid(1)) << 2 << QStringList{};
    QTest::newRow("repair without plan")
        << QStringList{"--apply-game-repair"} << 20 << QStringList{};
    QTest::newRow("first occurrence of a switch wins")
        << QStringList{"--apply-game-repair", "--plan", "@DIR@/none.json", "--plan",
                       "@DIR@/plan.json"}
        << 20 << QStringList{};
    QTest::newRow("plan stands last")
        << QStringList{"--apply-game-repair", "--plan"} << 20 << QStringList{};
    QTest::newRow("plan followed by --elevated")
        << QStringList{"--apply-game-repair", "--plan", "--elevated"} << 20 << QStringList{};
    QTest::newRow("repair wins over a valid update")
        << (QStringList{"--apply-game-repair"} + updateSwitches("0")) << 20 << QStringList{};
    QTest::newRow("Qt's own switch is the plan's value, not Qt's")
        << QStringList{"--apply-game-repair", "--plan", "--qmljsdebugger=x", "@DIR@/plan.json"}
        << 20 << QStringList{};
    QTest::newRow("pid with letters") << updateSwitches("12abc") << 3 << QStringList{};
    QTest::newRow("pid in hexadecimal") << updateSwitches("0x10") << 3 << QStringList{};
    QTest::newRow("pid without value") << updateSwitches("1").mid(0, 10) << 3 << QStringList{};
    QTest::newRow("pid too large") << updateSwitches("4294967296") << 3 << QStringList{};
    QTest::newRow("negative pid") << updateSwitches("-1") << 3 << QStringList{};
    QTest::newRow("empty install root")
        << QStringList(updateSwitches("1")).replaceInStrings("@DIR@/inst", "") << 3
        << QStringList{};
    QTest::newRow("no ack") << updateSwitches("1").mid(0, 7) + updateSwitches("1").mid(9) << 3
                            << QStringList{};
    QTest::newRow("delta plan without from-version")
        << updateSwitches("1") + QStringList{"--delta-plan", "@DIR@/staged/p.json"} << 3
        << QStringList{};
    QTest::newRow("from-version without delta plan")
        << updateSwitches("1") + QStringList{"--from-version", "1.0.0"} << 3 << QStringList{};
    // The write probe has run (and created the missing install root) before the pid is judged.
    QTest::newRow("parent pid 0") << updateSwitches("0") << 5 << QStringList{"inst"};
}

void TestProcess::refusedCommandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, leftBehind);
    QTemporaryDir dir;
    QVERIFY(testsupport::writeFile(
        dir.filePath("plan.json"),
        QJsonDocument(QJsonObject{{"installationRoot", harness::programPath(dir.filePath("game"))}})
            .toJson()));
    const ProcessResult result = harness::run(expand(arguments, dir.path()));
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.standardError, QByteArray());
    leftBehind << "plan.json";
    leftBehind.sort();
    QCOMPARE(allEntries(dir.path()), leftBehind);
}

// A plan whose installation root cannot be pre-read ends with 20 and no result file.
void TestProcess::unreadablePlan_data() {
    QTest::addColumn<QByteArray>("content");  // "<none>": no plan file; "<fifo>": a FIFO
    QTest::newRow("missing") << QByteArray("<none>");
#ifndef Q_OS_WIN
    // Opening it would wait for a writer for ever.
    QTest::newRow("FIFO") << QByteArray("<fifo>");
#endif
    QTest::newRow("root is a number") << QByteArray(R"({"installationRoot":5})");
}

void TestProcess::unreadablePlan() {
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    QStringList expected;
    if (content == "<fifo>") {
#ifndef Q_OS_WIN
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("plan.json")).constData(), 0600) == 0);
#endif
        expected << "plan.json";
    } else if (content != "<none>") {
        QVERIFY(testsupport::writeFile(dir.filePath("plan.json"), content));
        expected << "plan.json";
    }
    const ProcessResult result =
        harness::run(expand({"--apply-game-repair", "--plan", "@DIR@/plan.json"}, dir.path()));
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 20);
    QCOMPARE(allEntries(dir.path()), expected);
}

void TestProcess::updateGoesOnWhenParentIsGone() {
    QTemporaryDir dir;
    QProcess launcher;
    const quint32 pid = harness::startStandInLauncher(launcher);
    QVERIFY(pid != 0);
    launcher.closeWriteChannel();
    QVERIFY(launcher.waitForFinished());
    const ProcessResult result =
        harness::run(expand(updateSwitches(QString::number(pid)), dir.path()));
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 6);  // the staged root does not exist
    QVERIFY2(result.standardError.startsWith(kUpdateFailedLine), result.standardError.constData());
}

void TestProcess::updateWaitsForRunningParent() {
    QTemporaryDir dir;
    // The stand-in launcher runs until its input closes; the updater must wait for that.
    QProcess launcher;
    const quint32 pid = harness::startStandInLauncher(launcher);
    QVERIFY(pid != 0);
    QProcess updater;
    QStringList command = harness::runner()
                          << harness::executable()
                          << expand(updateSwitches(QString::number(pid)), dir.path());
    updater.start(command.takeFirst(), command);
    QVERIFY(updater.waitForStarted());
    QVERIFY(!updater.waitForFinished(1000));  // bounded: still waiting for the launcher
    launcher.closeWriteChannel();
    QVERIFY(launcher.waitForFinished());
    QVERIFY(updater.waitForFinished(60000));
    QCOMPARE(updater.exitCode(), 6);
}

void TestProcess::updateRefusesOwnProcessAsParent() {
    SKIP_WHERE_WINE_CANNOT();
    QTemporaryDir dir;
    QStringList arguments = expand(updateSwitches("$$"), dir.path());
    QProcess shell;
    // exec keeps the shell's pid, so $$ is the updater's own pid.
    shell.start(QStringLiteral("/bin/sh"),
                {"-c", "exec \"$0\" " + arguments.mid(0, arguments.size() - 1).join(' ') + " $$",
                 harness::executable()});
    QVERIFY(shell.waitForFinished(60000));
    QCOMPARE(shell.exitCode(), 5);
}

// Run as user nobody against a directory it may not write, with a stand-in pkexec on PATH that
// records what it was given and then behaves as one of the rows says: hands over to the program
// as the real one does (as nobody, here: the copy then fails on its own terms), is dismissed
// (126), refuses (127), dies, or is missing. With "--elevated" the process is the elevated copy:
// it runs the job itself, whatever the probe would say, and never hands it on again.
void TestProcess::withoutRightsTheJobGoesToAnElevatedCopy_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("pkexec");  // the stand-in's behaviour; empty: there is none
    QTest::addColumn<bool>("elevated");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");  // in result.json; "<copy>": the copy's own

    const QByteArray notStarted = "Could not start the elevated game repair helper.";
    const QString handOver = "cd / && \"$@\"";
    QTest::newRow("repair: the copy's code")
        << "repair" << handOver << false << 21 << QByteArray("<copy>");
    QTest::newRow("repair: declined")
        << "repair"
        << "(exit 126)" << false << 26 << QByteArray("Administrator permission was declined.");
    QTest::newRow("repair: refused") << "repair"
                                     << "(exit 127)" << false << 25 << notStarted;
    QTest::newRow("repair: no pkexec") << "repair"
                                       << "" << false << 25 << notStarted;
    QTest::newRow("repair: the copy dies")
        << "repair"
        << "kill -9 $$" << false << 25
        << QByteArray("The elevated game repair helper did not finish correctly.");
    // This process ends while pkexec waits behind the gate, and never learns how it ended.
    QTest::newRow("update: handed over") << "update" << handOver << false << 0 << QByteArray();
    QTest::newRow("update: declined") << "update"
                                      << "(exit 126)" << false << 0 << QByteArray();
    QTest::newRow("update: no pkexec") << "update"
                                       << "" << false << 4 << QByteArray();
    QTest::newRow("update, already the elevated copy")
        << "update" << handOver << true << 6 << QByteArray();
    QTest::newRow("repair, already the elevated copy")
        << "repair" << handOver << true << 21 << QByteArray("<copy>");
}

void TestProcess::withoutRightsTheJobGoesToAnElevatedCopy() {
    QFETCH(QString, mode);
    QFETCH(QString, pkexec);
    QFETCH(bool, elevated);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    SKIP_WHERE_WINE_CANNOT();
    QString why;
    if (!harness::canDropPrivileges(&why)) {
        QSKIP(qPrintable(QStringLiteral("cannot deny access here: ") + why));
    }
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
    QVERIFY(
        testsupport::writeFile(dir.filePath("staging/plan.json"),
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
        QVERIFY(testsupport::writeFile(
            bin + "/pkexec",
            QByteArray(script).replace("@BIN@", bin.toUtf8()).replace("@RUN@", pkexec.toUtf8())));
        QVERIFY(QFile::setPermissions(bin + "/pkexec", everyone));
    }
#ifndef Q_OS_WIN
    if (gated) {
        for (const char* fifo : {"/gate", "/done"}) {
            QVERIFY(::mkfifo(QFile::encodeName(bin + fifo).constData(), 0666) == 0);
            QVERIFY(QFile::setPermissions(bin + fifo, everyone | QFileDevice::WriteOther));
        }
    }
#endif

    // A launcher that has ended, so that the elevated copy does not wait for it.
    QProcess launcher;
    const quint32 pid = harness::startStandInLauncher(launcher);
    QVERIFY(pid != 0);
    launcher.closeWriteChannel();
    QVERIFY(launcher.waitForFinished());
    QStringList arguments =
        mode == "update" ? updateSwitches(QString::number(pid))
                         : QStringList{"--apply-game-repair", "--plan", "@DIR@/staging/plan.json"};
    if (elevated) {
        arguments << "--elevated";
    }
    arguments = expand(arguments, dir.path());
    const ProcessResult result = harness::run(arguments, harness::unprivilegedWrapper(), program,
                                              {QStringLiteral("PATH=") + bin});
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
    QVERIFY(
        QDir(dir.filePath("inst")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));

    // The copy sees the first process's arguments after its own program path, then
    // "--elevated"; the update's copy also element 0 of the first process.
    if (!elevated && !pkexec.isEmpty()) {
        QStringList handedOn = QStringList{program} + arguments + QStringList{"--elevated"};
        if (mode == "update") {
            handedOn.insert(1, program);
        }
        QCOMPARE(testsupport::readFile(bin + "/args"), handedOn.join('\n').toUtf8() + '\n');
    }
    const QByteArray written = testsupport::readFile(dir.filePath("staging/result.json"));
    if (mode == "update") {
        QVERIFY(!QFile::exists(dir.filePath("staging/result.json")));
    } else if (message == "<copy>") {
        const QJsonObject object = QJsonDocument::fromJson(written).object();
        QCOMPARE(object.value("errorCode").toInt(), exitCode);
        QCOMPARE(object.value("message").toString(),
                 QStringLiteral("The game repair plan contains invalid metadata."));
    } else {
        QCOMPARE(written, "{\"errorCode\":" + QByteArray::number(exitCode) + ",\"message\":\"" +
                              message + "\",\"ok\":false,\"schemaVersion\":1}");
    }
}

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_process.moc"
