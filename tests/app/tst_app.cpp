#include <QJsonDocument>
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
    capturedLines << QString::number(type) + QLatin1Char('|') + text;
}

const char kProbeChild[] = "--probe-child";

}  // namespace

class TestApp : public QObject {
    Q_OBJECT

private slots:
    void repairResult_data();
    void repairResult();
    void repairResultBesideRelativePlan();

    void failureLogLine_data();
    void failureLogLine();

    void probe_data();
    void probe();
    void probeWithoutRights_data();
    void probeWithoutRights();

    void planInstallationRoot_data();
    void planInstallationRoot();

    void parentWait_data();
    void parentWait();
};

void TestApp::repairResult_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("success") << 0 << ""
                             << QByteArray(
                                    R"({"errorCode":0,"message":"","ok":true,"schemaVersion":1})");
    QTest::newRow("declined")
        << 26 << "Administrator permission was declined."
        << QByteArray(
               R"({"errorCode":26,"message":"Administrator permission was declined.","ok":false,"schemaVersion":1})");
    QTest::newRow("cut to 1000 code units")
        << 22 << QString(1000, 'x') + QString(500, 'y')
        << QByteArray(R"({"errorCode":22,"message":")") + QByteArray(1000, 'x') +
               QByteArray(R"(","ok":false,"schemaVersion":1})");
    QTest::newRow("cut before a surrogate pair that would be split")
        << 23 << QString(999, 'a') + QString::fromUtf8("\xf0\x9f\x98\x80")
        << QByteArray(R"({"errorCode":23,"message":")") + QByteArray(999, 'a') +
               QByteArray(R"(","ok":false,"schemaVersion":1})");
}

void TestApp::repairResult() {
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    const QString plan = dir.filePath(QStringLiteral("plan.json"));
    QVERIFY(testsupport::writeFile(dir.filePath(QStringLiteral("result.json")),
                                   "an older, longer result"));
    QVERIFY(writeRepairResult(systemFileOperations(), plan, code, message));
    QCOMPARE(testsupport::readFile(dir.filePath(QStringLiteral("result.json"))), expected);
    QCOMPARE(testsupport::entriesOf(dir.path()), QStringList{QStringLiteral("result.json")});
}

void TestApp::repairResultBesideRelativePlan() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("plans")));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const bool written = writeRepairResult(systemFileOperations(), QStringLiteral("plans/p.json"),
                                           21, QStringLiteral("x"));
    QDir::setCurrent(previous);
    QVERIFY(written);
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("plans/result.json"))).isFile());
}

void TestApp::failureLogLine_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logged");
    QTest::newRow("sentence")
        << "The game repair plan is not valid JSON."
        << "game repair helper failed: The game repair plan is not valid JSON.";
    QTest::newRow("quotes stay unquoted") << "a \"b\""
                                          << "game repair helper failed: a \"b\"";
    QTest::newRow("cut to 1000") << QString(1001, 'm')
                                 << "game repair helper failed: " + QString(1000, 'm');
    QTest::newRow("line breaks cannot forge lines")
        << "unknown key: k\ngame repair helper failed: x\r\u2028"
        << "game repair helper failed: unknown key: k\\u000agame repair helper failed: "
           "x\\u000d\\u2028";
    QTest::newRow("an escape written out is not a line break")
        << "key \\u000a and \\"
        << "game repair helper failed: key \\\\u000a and \\\\";
    QTest::newRow("bidirectional controls cannot reorder the line")
        << "key \u202eabc\u2066d\u2069"
        << "game repair helper failed: key \\u202eabc\\u2066d\\u2069";
    QTest::newRow("cut keeps a surrogate pair whole")
        << QString(999, 'm') + QString::fromUtf8("\xf0\x9f\x98\x80")
        << "game repair helper failed: " + QString(999, 'm');
}

void TestApp::failureLogLine() {
    QFETCH(QString, message);
    QFETCH(QString, logged);
    capturedLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    logRunFailure("game repair helper failed:", message);
    qInstallMessageHandler(previous);
    QCOMPARE(capturedLines, QStringList{QString::number(QtCriticalMsg) + "|" + logged});
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
    QString probed = dir.filePath(QStringLiteral("install"));
    if (layout == "dir") {
        QVERIFY(QDir().mkpath(probed));
    } else if (layout == "file") {
        QVERIFY(testsupport::writeFile(probed, "x"));
    } else if (layout == "deep") {
        probed += QStringLiteral("/a/b");
    } else if (layout == "too long") {
        while (probed.size() < 4040) {
            probed += QLatin1Char('/') + QString(qMin(200, 4040 - int(probed.size())), 'n');
        }
        QVERIFY(QDir().mkpath(probed));
    }
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
    QString why;
    if (!harness::canDropPrivileges(&why)) {
        QSKIP(qPrintable(QStringLiteral("cannot deny access here: ") + why));
    }
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                  QFileDevice::ExeOther));
    const QString locked = dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(locked));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                              QFileDevice::ReadOther | QFileDevice::ExeOther));
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
    QTest::newRow("missing") << QByteArray(R"({"root":"C:/Games/X"})") << "";
    QTest::newRow("unsafe root is not judged here")
        << QByteArray(R"({"installationRoot":"rel/x"})") << "rel/x";
}

void TestApp::planInstallationRoot() {
    QFETCH(QByteArray, content);
    QFETCH(QString, root);
    QTemporaryDir dir;
    const QString plan = dir.filePath(QStringLiteral("plan.json"));
    if (content != "<none>") {
        QVERIFY(testsupport::writeFile(plan, content));
    }
    QCOMPARE(readPlanInstallationRoot(plan), root);
}

namespace {

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
    // Child mode: this program re-run by its own tests.
    if (argc == 3 && qstrcmp(argv[1], kProbeChild) == 0) {
        QCoreApplication app(argc, argv);
        bool accessDenied = false;
        const bool writable = probeWriteAccess(QString::fromLocal8Bit(argv[2]), accessDenied);
        std::printf("writable=%d denied=%d\n", writable ? 1 : 0, accessDenied ? 1 : 0);
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app.moc"
