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

// Run as user nobody against a directory it may not write: the job is handed to an elevated
// copy, which cannot be started here.
// With "--elevated" the process is the elevated copy: it runs the job itself, whatever the probe
// would say, and never hands it on again.
void TestProcess::withoutRightsTheJobGoesToAnElevatedCopy_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("elevated");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("launcher update") << "update" << false << 4;
    QTest::newRow("game repair") << "repair" << false << 25;
    QTest::newRow("launcher update, already the elevated copy") << "update" << true << 6;
    // The code is the repair's own, as its result.json says.
    QTest::newRow("game repair, already the elevated copy") << "repair" << true << 0;
}

void TestProcess::withoutRightsTheJobGoesToAnElevatedCopy() {
    QFETCH(QString, mode);
    QFETCH(bool, elevated);
    QFETCH(int, exitCode);
    SKIP_WHERE_WINE_CANNOT();
    QString why;
    if (!harness::canDropPrivileges(&why)) {
        QSKIP(qPrintable(QStringLiteral("cannot deny access here: ") + why));
    }
    QTemporaryDir dir;
    const auto everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadOther | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(dir.path(), everyone));
    QVERIFY(QDir(dir.path()).mkdir("inst") && QDir(dir.path()).mkdir("staging"));
    QVERIFY(QFile::setPermissions(dir.filePath("inst"), everyone & ~QFileDevice::WriteOwner));
    QVERIFY(QFile::setPermissions(dir.filePath("staging"), everyone | QFileDevice::WriteOther));
    const QString program = harness::copyForEveryone(harness::executable(), dir.path());
    QVERIFY(!program.isEmpty());
    QVERIFY(
        testsupport::writeFile(dir.filePath("staging/plan.json"),
                               "{\"installationRoot\":\"" + dir.filePath("inst").toUtf8() + "\"}"));

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
    const ProcessResult result =
        harness::run(expand(arguments, dir.path()), harness::unprivilegedWrapper(), program);
    QVERIFY(result.finished);
    QVERIFY(
        QDir(dir.filePath("inst")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    const QByteArray handedOn =
        R"({"errorCode":25,"message":"Could not start the elevated game repair helper.","ok":false,"schemaVersion":1})";
    const QByteArray written = testsupport::readFile(dir.filePath("staging/result.json"));
    if (elevated) {
        // The job ran here and failed on its own terms, which only a run in this process logs.
        QVERIFY2(result.standardError.startsWith(mode == "update" ? kUpdateFailedLine
                                                                  : kRepairFailedLine),
                 result.standardError.constData());
        if (mode == "repair") {
            QVERIFY(written != handedOn);
            exitCode = QJsonDocument::fromJson(written).object().value("errorCode").toInt();
        }
        QCOMPARE(result.exitCode, exitCode);
        return;
    }
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.standardError, QByteArray());
    if (mode == "repair") {
        QCOMPARE(written, handedOn);
    }
}

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_process.moc"
