// The process entry's parts in process: the failure as logged and as result.json says it, the
// write probe, the pre-read of the plan and the wait for the launcher. The probe without rights
// is in the whole-process elevation rows, where access is really denied.
#include <QtTest>

#include "failure_log.h"
#include "file_fixtures.h"
#include "file_operations.h"
#include "parent_process.h"
#include "result_file.h"
#include "write_probe.h"

using namespace testsupport;

namespace {

// The launcher wait's stand-in: what it was asked, and what it answers.
platform::ProcessWait fakeOutcome;
std::uint32_t fakeOpenError, fakeWaitedPid, fakeTimeoutMs;

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
    void planInstallationRoot_data();
    void planInstallationRoot();
    void parentWait_data();
    void parentWait();
};

// A failure as the log line and result.json (written over an older one) say it: neither can be
// cut inside a character, and the line cannot be forged into another line. result.json holds the
// message as it is, cut where the line is.
void TestApp::reportedFailure_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logged");  // after "game repair helper failed: "
    const QString emoji = QString::fromUtf8("\xf0\x9f\x98\x80");
    // clang-format off
    QTest::newRow("cut to 1000") << QString(1001, 'm') << QString(1000, 'm');
    QTest::newRow("cut keeps a surrogate pair whole") << QString(999, 'm') + emoji << QString(999, 'm');
    QTest::newRow("line breaks cannot forge lines") << "k\ngame repair helper failed: x\r\u2028" << "k\\u000agame repair helper failed: x\\u000d\\u2028";
    QTest::newRow("an escape written out is not a line break") << "key \\u000a and \\" << "key \\\\u000a and \\\\";
    QTest::newRow("bidirectional controls cannot reorder the line") << "key \u202eabc\u2066d\u2069" << "key \\u202eabc\\u2066d\\u2069";
    // clang-format on
}

void TestApp::reportedFailure() {
    QFETCH(QString, message);
    QFETCH(QString, logged);
    QTest::ignoreMessage(QtCriticalMsg, ("game repair helper failed: " + logged).toUtf8());
    logRunFailure("game repair helper failed:", message);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("result.json"), QByteArray(3000, 'o')));
    QVERIFY(writeRepairResult(systemFileOperations(), dir.filePath("p.json"), 22, message));
    const QString written = message.size() > 1000 ? logged : message;
    QCOMPARE(
        readFile(dir.filePath("result.json")),
        QJsonDocument(
            QJsonObject(
                {{"errorCode", 22}, {"message", written}, {"ok", false}, {"schemaVersion", 1}}))
            .toJson(QJsonDocument::Compact));
    QCOMPARE(entriesOf(dir.path()), QStringList{"result.json"});
}

// The row names what stands at the probed path: an empty directory, a regular file, nothing
// under two missing parents, or a directory within the system's path limit whose probe file is
// not.
void TestApp::probe_data() {
    QTest::addColumn<bool>("writable");
    QTest::newRow("dir") << true;
    QTest::newRow("file") << false;
    QTest::newRow("missing parents") << true;
#ifdef Q_OS_LINUX
    QTest::newRow("too long") << false;  // fails for another reason than rights
#endif
}

void TestApp::probe() {
    QFETCH(bool, writable);
    const QString layout = QTest::currentDataTag();
    QTemporaryDir dir;
    QString probed = dir.filePath("install") + (layout == "missing parents" ? "/a/b" : "");
    while (layout == "too long" && probed.size() < 4040) {
        probed += '/' + QString(qMin(200, 4040 - int(probed.size())), 'n');
    }
    QVERIFY(layout == "file" ? writeFile(probed, "x")
                             : layout == "missing parents" || QDir().mkpath(probed));
    bool accessDenied = true;
    QCOMPARE(probeWriteAccess(probed, accessDenied), writable);
    QVERIFY(!accessDenied);
    QCOMPARE(QFileInfo(probed).isDir(), layout != "file");
    QVERIFY(layout == "file" || entriesOf(probed).isEmpty());
}

void TestApp::planInstallationRoot_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("root");
    const QByteArray plan = R"({"installationRoot":"C:/Games/X","files":[]})";
    QTest::newRow("root") << plan << "C:/Games/X";
    QTest::newRow("exactly 1 MiB") << plan + QByteArray(1048576 - plan.size(), ' ') << "C:/Games/X";
    QTest::newRow("1 MiB and one byte") << plan + QByteArray(1048577 - plan.size(), ' ') << "";
    QTest::newRow("unsafe root is not judged here")
        << QByteArray(R"({"installationRoot":"rel/x"})") << "rel/x";
}

void TestApp::planInstallationRoot() {
    QFETCH(QByteArray, content);
    QFETCH(QString, root);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("plan.json"), content));
    QCOMPARE(readPlanInstallationRoot(dir.filePath("plan.json")), root);
}

// Outcomes of the wait for the launcher that the system will not produce on demand; the
// launcher's id is 1234, or 0 or this process's own id where the row says so (a wait for itself
// could only time out).
void TestApp::parentWait_data() {
    QTest::addColumn<int>("outcome");
    QTest::addColumn<quint32>("openError");
    QTest::addColumn<bool>("goOn");
    using W = platform::ProcessWait;
    QTest::newRow("ended") << int(W::Ended) << 0u << true;
    QTest::newRow("no such process") << int(W::OpenFailed) << 87u << true;
    QTest::newRow("open denied") << int(W::OpenFailed) << 5u << false;
    QTest::newRow("open failed otherwise") << int(W::OpenFailed) << 31u << false;
    QTest::newRow("timed out") << int(W::TimedOut) << 0u << false;
    QTest::newRow("wait failed") << int(W::WaitFailed) << 0u << false;
    QTest::newRow("pid 0 is never waited for") << int(W::Ended) << 0u << false;
    QTest::newRow("own process is never waited for") << int(W::Ended) << 0u << false;
}

void TestApp::parentWait() {
    QFETCH(int, outcome);
    QFETCH(quint32, openError);
    QFETCH(bool, goOn);
    const QByteArray tag = QTest::currentDataTag();
    const quint32 pid = tag.startsWith("pid 0") ? 0
                        : tag.startsWith("own") ? platform::currentProcessId()
                                                : 1234;
    fakeOutcome = static_cast<platform::ProcessWait>(outcome);
    fakeOpenError = openError;
    fakeWaitedPid = fakeTimeoutMs = 0;
    QCOMPARE(waitForParentProcess(pid, fakeWait), goOn);
    QCOMPARE(fakeWaitedPid, tag.endsWith("never waited for") ? 0 : pid);
    QCOMPARE(fakeTimeoutMs, fakeWaitedPid == 0 ? 0u : 30000u);
}

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
