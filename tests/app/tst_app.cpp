// The process entry's parts in process: the failure as logged and as result.json says it, the
// write probe, the pre-read of the plan and the wait for the launcher.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <cstdio>

#include "failure_log.h"
#include "file_fixtures.h"
#include "file_operations.h"
#include "parent_process.h"
#include "process_harness.h"
#include "result_file.h"
#include "write_probe.h"

namespace {

QStringList capturedLines;
void captureMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    capturedLines << QString::number(type) + '|' + text;
}

const char kProbeChild[] = "--probe-child";

platform::ProcessWait fakeOutcome;
std::uint32_t fakeOpenError;
std::uint32_t fakeWaitedPid;
std::uint32_t fakeTimeoutMs;

platform::ProcessWait fakeWait(std::uint32_t pid, std::uint32_t timeoutMs,
                               std::uint32_t* openError) {
    fakeWaitedPid = pid;
    fakeTimeoutMs = timeoutMs;
    *openError = fakeOpenError;
    return fakeOutcome;
}

}  // namespace

class TestApp : public QObject {
    Q_OBJECT

private slots:
    void reportedFailure_data();
    void reportedFailure();
    void probe_data();
    void probe();
    void probeWithoutRights_data();
    void probeWithoutRights();
    void planInstallationRoot_data();
    void planInstallationRoot();
    void parentWait_data();
    void parentWait();
};

// A failure as the log line and result.json (written over an older one, beside a plan named
// relative to the working directory) say it: neither can be forged into another line or cut
// inside a character.
void TestApp::reportedFailure_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logged");  // after "game repair helper failed: "
    QTest::addColumn<QString>("written");
    const QString emoji = QString::fromUtf8("\xf0\x9f\x98\x80");
    QTest::newRow("cut to 1000") << QString(1001, 'm') << QString(1000, 'm') << QString(1000, 'm');
    QTest::newRow("cut keeps a surrogate pair whole")
        << QString(999, 'm') + emoji << QString(999, 'm') << QString(999, 'm');
    QTest::newRow("line breaks cannot forge lines")
        << "k\ngame repair helper failed: x\r\u2028"
        << "k\\u000agame repair helper failed: x\\u000d\\u2028"
        << "k\ngame repair helper failed: x\r\u2028";
    QTest::newRow("an escape written out is not a line break") << "key \\u000a and \\"
                                                               << "key \\\\u000a and \\\\"
                                                               << "key \\u000a and \\";
    QTest::newRow("bidirectional controls cannot reorder the line")
        << "key \u202eabc\u2066d\u2069"
        << "key \\u202eabc\\u2066d\\u2069"
        << "key \u202eabc\u2066d\u2069";
}

void TestApp::reportedFailure() {
    QFETCH(QString, message);
    QFETCH(QString, logged);
    QFETCH(QString, written);
    capturedLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    logRunFailure("game repair helper failed:", message);
    qInstallMessageHandler(previous);
    QCOMPARE(capturedLines,
             QStringList{QString::number(QtCriticalMsg) + "|game repair helper failed: " + logged});
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("plans") &&
            testsupport::writeFile(dir.filePath("plans/result.json"), QByteArray(3000, 'o')));
    const QString working = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QVERIFY(writeRepairResult(systemFileOperations(), "plans/p.json", 22, message));
    QDir::setCurrent(working);
    const QByteArray bytes = testsupport::readFile(dir.filePath("plans/result.json"));
    QCOMPARE(QJsonDocument::fromJson(bytes).object(),
             QJsonObject(
                 {{"errorCode", 22}, {"message", written}, {"ok", false}, {"schemaVersion", 1}}));
    QCOMPARE(bytes, QJsonDocument::fromJson(bytes).toJson(QJsonDocument::Compact));
    QCOMPARE(testsupport::entriesOf(dir.filePath("plans")), QStringList{"result.json"});
}

// Column `layout`: what stands at the probed path. "dir" an empty directory, "file" a regular
// file, "missing" nothing under an existing parent, "deep" nothing under two missing parents.
void TestApp::probe_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("writable");
    QTest::newRow("writable directory") << "dir" << true;
    QTest::newRow("regular file") << "file" << false;
    QTest::newRow("missing directory is created") << "missing" << true;
    QTest::newRow("missing parents are created") << "deep" << true;
#ifdef Q_OS_LINUX
    // The directory fits the system's path limit; the probe file's path does not.
    QTest::newRow("failure for another reason than rights") << "too long" << false;
#endif
}

void TestApp::probe() {
    QFETCH(QString, layout);
    QFETCH(bool, writable);
    QTemporaryDir dir;
    QString probed = dir.filePath("install") + (layout == "deep" ? "/a/b" : "");
    while (layout == "too long" && probed.size() < 4040) {
        probed += '/' + QString(qMin(200, 4040 - int(probed.size())), 'n');
    }
    QVERIFY(layout == "file" ? testsupport::writeFile(probed, "x")
                             : layout == "missing" || layout == "deep" || QDir().mkpath(probed));
    bool accessDenied = true;
    QCOMPARE(probeWriteAccess(probed, accessDenied), writable);
    QVERIFY(!accessDenied);
    QCOMPARE(QFileInfo(probed).isDir(), layout != "file");
    QVERIFY(!QFileInfo(probed).isDir() || testsupport::entriesOf(probed).isEmpty());
}

// Run as user nobody in a child copy of this test program, because root is never denied.
void TestApp::probeWithoutRights_data() {
    QTest::addColumn<QString>("relative");
    QTest::newRow("directory that refuses new files") << "locked";
    QTest::newRow("missing directory under one that refuses") << "locked/install";
}

void TestApp::probeWithoutRights() {
    QFETCH(QString, relative);
    SKIP_WITHOUT_DROPPING_PRIVILEGES();
    QTemporaryDir dir;
    const auto readable = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                          QFileDevice::ExeOther;
    const QString locked = dir.filePath("locked");
    QVERIFY(QFile::setPermissions(dir.path(), readable | QFileDevice::WriteOwner) &&
            QDir().mkdir(locked) && QFile::setPermissions(locked, readable));
    const QString self =
        harness::copyForEveryone(QCoreApplication::applicationFilePath(), dir.path());
    QVERIFY(!self.isEmpty());
    QProcess child;
    const QStringList wrapper = harness::unprivilegedWrapper();
    child.start(wrapper.first(), wrapper.mid(1) << self << kProbeChild << dir.filePath(relative));
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.readAllStandardOutput().trimmed(), QByteArray("writable=0 denied=1"));
    QVERIFY(testsupport::entriesOf(locked).isEmpty());
}

void TestApp::planInstallationRoot_data() {
    QTest::addColumn<QByteArray>("content");  // "<none>": no file at all
    QTest::addColumn<QString>("root");
    const QByteArray plan = R"({"installationRoot":"C:/Games/X","files":[]})";
    QTest::newRow("root") << plan << "C:/Games/X";
    QTest::newRow("no file") << QByteArray("<none>") << "";
    QTest::newRow("empty file") << QByteArray() << "";
    QTest::newRow("exactly 1 MiB") << plan + QByteArray(1048576 - plan.size(), ' ') << "C:/Games/X";
    QTest::newRow("1 MiB and one byte") << plan + QByteArray(1048577 - plan.size(), ' ') << "";
    QTest::newRow("invalid JSON") << QByteArray(R"({"installationRoot":)") << "";
    QTest::newRow("array") << QByteArray(R"(["C:/Games/X"])") << "";
    QTest::newRow("number") << QByteArray(R"({"installationRoot":5})") << "";
    QTest::newRow("unsafe root is not judged here")
        << QByteArray(R"({"installationRoot":"rel/x"})") << "rel/x";
}

void TestApp::planInstallationRoot() {
    QFETCH(QByteArray, content);
    QFETCH(QString, root);
    QTemporaryDir dir;
    const QString plan = dir.filePath("plan.json");
    QVERIFY(content == "<none>" || testsupport::writeFile(plan, content));
    QCOMPARE(readPlanInstallationRoot(plan), root);
}

// Outcomes of the wait for the launcher that the system will not produce on demand.
void TestApp::parentWait_data() {
    QTest::addColumn<quint32>("pid");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<quint32>("openError");
    QTest::addColumn<bool>("goOn");
    using W = platform::ProcessWait;
    QTest::newRow("ended") << 1234u << int(W::Ended) << 0u << true;
    QTest::newRow("no such process") << 1234u << int(W::OpenFailed) << 87u << true;
    QTest::newRow("open denied") << 1234u << int(W::OpenFailed) << 5u << false;
    QTest::newRow("open failed otherwise") << 1234u << int(W::OpenFailed) << 31u << false;
    QTest::newRow("timed out") << 1234u << int(W::TimedOut) << 0u << false;
    QTest::newRow("wait failed") << 1234u << int(W::WaitFailed) << 0u << false;
    QTest::newRow("pid 0 is never waited for") << 0u << int(W::Ended) << 0u << false;
}

void TestApp::parentWait() {
    QFETCH(quint32, pid);
    QFETCH(int, outcome);
    QFETCH(quint32, openError);
    QFETCH(bool, goOn);
    fakeOutcome = static_cast<platform::ProcessWait>(outcome);
    fakeOpenError = openError;
    fakeWaitedPid = 0;
    fakeTimeoutMs = 0;
    QCOMPARE(waitForParentProcess(pid, fakeWait), goOn);
    QCOMPARE(fakeWaitedPid, pid);
    QCOMPARE(fakeTimeoutMs, pid == 0 ? 0u : 30000u);
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // Child mode: this program re-run by its own tests.
    if (argc == 3 && qstrcmp(argv[1], kProbeChild) == 0) {
        bool accessDenied = false;
        const bool writable = probeWriteAccess(QString::fromLocal8Bit(argv[2]), accessDenied);
        std::printf("writable=%d denied=%d\n", writable ? 1 : 0, accessDenied ? 1 : 0);
        return 0;
    }
    TestApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app.moc"
