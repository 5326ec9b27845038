// The game repair as a whole process: result.json, exit code and the files on disk, and the
// process killed at every mutating system call of a repair.
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "file_fixtures.h"
#include "process_harness.h"
#include "repair_scenario.h"

using testsupport::FileTree;
using testsupport::RepairScenario;

namespace {

QStringList repairArguments(const RepairScenario& s) {
    return {"--apply-game-repair", "--plan", harness::programPath(s.planPath())};
}

ProcessResult runRepair(RepairScenario& s) {
    return harness::run(repairArguments(s), {}, harness::testKeysExecutable());
}

// The installation as a user sees it after a run: every name, hidden ones included, except the
// write probe's, which a kill between its creation and removal leaves (it is never reused).
FileTree installation(const RepairScenario& s) {
    FileTree tree = testsupport::fileTree(s.root(), false);
    tree.removeIf([](const auto& file) {
        return file.key().startsWith(QLatin1String(".tavorin-update-probe-"));
    });
    return tree;
}

QString strace() {
    return QStandardPaths::findExecutable("strace");
}

// Runs the repair of `s` under strace with `options`.
bool underStrace(QProcess& process, const RepairScenario& s, const QStringList& options) {
    process.setProcessChannelMode(QProcess::MergedChannels);
    // LeakSanitizer cannot work under ptrace: in the sanitized build it would fail the run.
    process.start(strace(), QStringList{"-E", "LSAN_OPTIONS=detect_leaks=0", "-f", "-qq"} +
                                options + QStringList{harness::testKeysExecutable()} +
                                repairArguments(s));
    return process.waitForFinished(120000);
}

QByteArray resultJson(int code, const QByteArray& message) {
    return R"({"errorCode":)" + QByteArray::number(code) + R"(,"message":")" + message +
           R"(","ok":)" + (code == 0 ? "true" : "false") + R"(,"schemaVersion":1})";
}

}  // namespace

class TestRepairProcess : public QObject {
    Q_OBJECT

private slots:
    void repairs_data();
    void repairs();
    void crashAtEveryStep();
    void durableBeforeEachStep();
};

void TestRepairProcess::repairs_data() {
    QTest::addColumn<bool>("spoiled");
    QTest::addColumn<bool>("interrupted");  // a crashed repair left its journal and litter
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("repaired") << false << false << 0 << QByteArray();
    QTest::newRow("bad staging") << true << false << 23
                                 << QByteArray(
                                        "A staged repair file does not match its signed hash.");
    QTest::newRow("interrupted repair undone, then repaired") << false << true << 0 << QByteArray();
    QTest::newRow("interrupted repair undone, bad staging")
        << true << true << 23 << QByteArray("A staged repair file does not match its signed hash.");
}

void TestRepairProcess::repairs() {
    QFETCH(bool, spoiled);
    QFETCH(bool, interrupted);
    QFETCH(int, code);
    QFETCH(QByteArray, message);
    QTemporaryDir dir;
    RepairScenario s(dir.path());
    QVERIFY(s.writeDocuments(harness::programPath(s.root())) && s.spoilStaging(spoiled));
    if (interrupted) {
        // As a crash after the first file's backup and copy leaves it.
        QVERIFY(QDir().mkpath(s.root() + "/.tavorin-backup/3"));
        QVERIFY(QFile::rename(s.root() + "/a.dat", s.root() + "/.tavorin-backup/3/a.dat"));
        QVERIFY(testsupport::writeFile(s.root() + "/a.dat.tavorin-new", "half"));
        QVERIFY(testsupport::writeFile(s.root() + "/d.dat", "new, not yet flushed"));
        QVERIFY(testsupport::writeFile(
            s.root() + "/.tavorin-repair-transaction.json",
            R"({"entries":[{"backup":".tavorin-backup/3/a.dat","hadOriginal":true,"target":"a.dat"},)"
            R"({"backup":".tavorin-backup/3/d.dat","hadOriginal":false,"target":"d.dat"}],)"
            R"("generation":3,"schemaVersion":1})"));
    }
    const ProcessResult result = runRepair(s);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, code);
    QCOMPARE(testsupport::readFile(s.path("staging/result.json")), resultJson(code, message));
    if (code == 0) {
        QCOMPARE(installation(s), s.repaired());
        QCOMPARE(result.standardError, QByteArray());
        return;
    }
    QVERIFY2(result.standardError.contains("game repair helper failed: " + message),
             result.standardError.constData());
    QCOMPARE(testsupport::fileTree(s.root()), s.original());
}

// SIGKILL at each mutating system call of a repair, one call after another (strace's fault
// injection; nothing in the program helps). After each kill, a run whose staging went bad
// meanwhile must undo what the killed one did (or keep it, when the kill came after the commit),
// and a good run must then repair, leaving nothing else behind.
void TestRepairProcess::crashAtEveryStep() {
    SKIP_WHERE_WINE_CANNOT();
    if (strace().isEmpty()) {
        QSKIP("strace is not installed (scripts/install-deps.sh installs it)");
    }
    // The calls that can change the file system; most opens only read, but any may create.
    const QStringList calls = {"openat", "mkdir",     "rename", "renameat2",
                               "link",   "unlink",    "write",  "copy_file_range",
                               "fchmod", "fdatasync", "fsync",  "syncfs"};
    // How often the repair makes each call, from one run.
    QMap<QString, int> counts;
    {
        QTemporaryDir dir;
        RepairScenario s(dir.path());
        QVERIFY(s.writeDocuments());
        QProcess counting;
        QVERIFY(
            underStrace(counting, s, {"-c", "-U", "name,calls", "-e", "trace=" + calls.join(',')}));
        for (const QByteArray& line : counting.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() == 2 && calls.contains(fields[0])) {
                counts.insert(fields[0], fields[1].toInt());
            }
        }
        QCOMPARE(installation(s), s.repaired());
    }
    int killPoints = 0;
    for (auto call = counts.cbegin(); call != counts.cend(); ++call) {
        for (int n = 1; n <= call.value(); ++n) {
            const QByteArray where = call.key().toLatin1() + " #" + QByteArray::number(n);
            QTemporaryDir dir;
            RepairScenario s(dir.path());
            QVERIFY(s.writeDocuments());
            QProcess killed;
            QVERIFY(underStrace(killed, s,
                                {"-o", "/dev/null", "-e", "trace=" + call.key(), "-e",
                                 QString("inject=%1:signal=KILL:when=%2").arg(call.key()).arg(n)}));
            QVERIFY2(killed.exitStatus() == QProcess::CrashExit || killed.exitCode() == 128 + 9,
                     where);
            const bool committed =
                !QFileInfo::exists(s.root() + "/.tavorin-repair-transaction.json") &&
                testsupport::fileTree(s.root()) == s.repaired();
            if (committed) {
                // A repair of the same generation dies before it moves a file: the backups the
                // first left must never come back over the repaired files.
                QProcess second;
                QVERIFY(underStrace(second, s,
                                    {"-o", "/dev/null", "-e", "trace=renameat2", "-e",
                                     "inject=renameat2:signal=KILL:when=1"}));
            }
            QVERIFY(s.spoilStaging(true));
            QCOMPARE(runRepair(s).exitCode, 23);
            QVERIFY2(testsupport::fileTree(s.root()) == (committed ? s.repaired() : s.original()),
                     where);
            QVERIFY(s.spoilStaging(false));
            QCOMPARE(runRepair(s).exitCode, 0);
            QVERIFY2(installation(s) == s.repaired(), where);
            ++killPoints;
        }
    }
    qInfo() << killPoints << "kill points:" << counts;
}

// What a power cut must not undo is on the disk first: the journal (data, then its name) before
// the first file moves; every file the repair wrote before the journal goes; the journal's
// removal before the first backup does.
void TestRepairProcess::durableBeforeEachStep() {
    SKIP_WHERE_WINE_CANNOT();
    if (strace().isEmpty()) {
        QSKIP("strace is not installed (scripts/install-deps.sh installs it)");
    }
    QTemporaryDir dir;
    RepairScenario s(dir.path());
    QVERIFY(s.writeDocuments());
    QProcess traced;
    QVERIFY(underStrace(traced, s,
                        {"-y", "-o", dir.filePath("trace"), "-e",
                         "trace=fdatasync,fsync,syncfs,renameat,renameat2,unlinkat"}));
    QCOMPARE(traced.exitCode(), 0);
    const QString root = QFileInfo(s.root()).canonicalFilePath();
    const QString journal = root + "/.tavorin-repair-transaction.json";
    const QList<QByteArray> calls = testsupport::readFile(dir.filePath("trace")).split('\n');
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
    const QString q = QRegularExpression::escape(journal);
    const QString atRoot = "\\d+<" + QRegularExpression::escape(root) + ">";
    const QString name = QRegularExpression::escape(QFileInfo(journal).fileName());
    QList<qsizetype> order = {first(" fdatasync\\(\\d+<" + q + "\\.")};
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

QTEST_GUILESS_MAIN(TestRepairProcess)
#include "tst_repair_process.moc"
