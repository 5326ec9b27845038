// The game repair run in process: one row per rule with its exact message and code, and every
// file operation of a repair failing in turn.
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include "faulty_file_operations.h"
#include "file_fixtures.h"
#include "file_operations.h"
#include "game_repair_run.h"
#include "repair_journal.h"
#include "repair_scenario.h"
#include "retrying_file_operations.h"
#include "signature_verifier.h"
#include "signing_fixtures.h"

using testsupport::FaultyFileOperations;
using testsupport::RepairScenario;
using Kind = FileOperations::Kind;

namespace {

// The `setup` steps of a row, "verb:argument" separated by '|', done after the documents are
// written.
bool prepare(RepairScenario& s, const QString& setup) {
    for (const QString& step : setup.split('|', Qt::SkipEmptyParts)) {
        const QString verb = step.section(':', 0, 0);
        const QString arg = step.section(':', 1);
        bool ok = false;
        if (verb == "plan-bytes") {
            ok = testsupport::writeFile(s.planPath(), arg.toUtf8());
        } else if (verb == "payload") {
            ok = testsupport::writeSignedEnvelope(s.path("staging/manifest.envelope.json"),
                                                  arg.toUtf8());
        } else if (verb == "untrusted") {
            ok = testsupport::writeFile(
                s.path("staging/manifest.envelope.json"),
                testsupport::signEnvelope("{}", {}, testsupport::untrustedSigningKey()));
        } else if (verb == "remove") {
            ok = QFile::remove(s.path(arg)) || QDir(s.path(arg)).removeRecursively();
        } else if (verb == "staged") {  // staged:<file>=<content>
            ok = testsupport::writeFile(s.path("staging/files/" + arg.section('=', 0, 0)),
                                        arg.section('=', 1).toUtf8());
        } else if (verb == "journal") {
            ok = testsupport::writeFile(repairJournalPath(s.root()), arg.toUtf8());
        } else if (verb == "move") {  // move:<from>=<to>
            ok = QFile::rename(s.path(arg.section('=', 0, 0)), s.path(arg.section('=', 1)));
        } else if (verb == "mkdir") {
            ok = QDir().mkpath(s.path(arg));
        } else if (verb == "link") {  // link:<name>=<target>, both under the scratch directory
            ok = QFile::link(s.path(arg.section('=', 1)), s.path(arg.section('=', 0, 0)));
        }
        if (!ok) {
            qWarning() << "setup step failed" << step;
            return false;
        }
    }
    return true;
}

const QString kRelativeStaging = QStringLiteral("staging/plan.json");

// What a repair of the scenario writes before it touches the first file.
const QByteArray kJournal =
    R"({"entries":[{"backup":".tavorin-backup/7/a.dat","hadOriginal":true,"target":"a.dat"},)"
    R"({"backup":".tavorin-backup/7/bin/b.dat","hadOriginal":true,"target":"bin/b.dat"},)"
    R"({"backup":".tavorin-backup/7/d.dat","hadOriginal":false,"target":"d.dat"},)"
    R"({"backup":".tavorin-backup/7/new/deep/c.dat","hadOriginal":false,"target":"new/deep/c.dat"}],)"
    R"("generation":7,"schemaVersion":1})";

}  // namespace

class TestRepair : public QObject {
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void failureAtEveryStep();
    void onlyTheCheckedCopyGoesIntoPlace_data();
    void onlyTheCheckedCopyGoesIntoPlace();
    void transientErrorsAreRetried_data();
    void transientErrorsAreRetried();
};

void TestRepair::rules_data() {
    QTest::addColumn<QByteArray>("planPatch");
    QTest::addColumn<QByteArray>("manifestPatch");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    auto row = [](const char* name, const char* plan, const char* manifest, const QString& setup,
                  int code, const char* message) {
        QTest::newRow(name) << QByteArray(plan) << QByteArray(manifest) << setup << code
                            << QString::fromUtf8(message);
    };
    row("repaired", "", "", "", 0, "");
    row("plan path relative", "", "", "relative", 21, "The game repair plan path is invalid.");
    row("plan empty", "", "", "plan-bytes:", 21, "The game repair plan could not be read safely.");
    row("plan not an object", "", "", "plan-bytes:[1]", 21,
        "The game repair plan is not valid JSON.");
    const char* metadata = "The game repair plan contains invalid metadata.";
    row("channel in other case", R"({"channel":"Stable"})", "", "", 21, metadata);
    row("root below a file", R"({"installationRoot":"@DIR@/inst/keep.txt/game"})", "", "", 21,
        metadata);
    row("no files directory", "", "", "remove:staging/files", 21, metadata);
    row("generation 0", R"({"generation":0})", R"({"generation":0})", "", 21, metadata);
    // 20000 files get past the plan to the manifest, which lists the scenario's only.
    QStringList names;
    for (int i = 0; i <= 20000; ++i) {
        names << QString("f%1").arg(i);
    }
    const auto listing = [&names](int count) {
        return QJsonDocument(
                   QJsonObject{{"files", QJsonArray::fromStringList(names.mid(0, count))}})
            .toJson(QJsonDocument::Compact);
    };
    QTest::newRow("plan of 20000 files")
        << listing(20000) << QByteArray() << QString() << 23
        << QString("The repair plan references a file outside the signed manifest.");
    QTest::newRow("plan of 20001 files")
        << listing(20001) << QByteArray() << QString() << 21 << QString(metadata);
    const char* unsafePath = "The game repair plan contains an unsafe file path.";
    row("plan path escapes", R"({"files":["../x"]})", "", "", 21, unsafePath);
    row("plan paths equal after folding", R"({"files":["a.dat","A.DAT"]})", "", "", 21, unsafePath);
    row("plan path not a string", R"({"files":["a.dat",5]})", "", "", 21, unsafePath);
    // A leftover journal stays when the plan is refused.
    row("journal kept on refused plan", R"({"gameId":""})", "", "journal:{}", 21, metadata);

    row("envelope missing", "", "", "remove:staging/manifest.envelope.json", 22,
        "The signed game manifest could not be read.");
    row("envelope of an untrusted key", "", "", "untrusted", 22,
        "Signed envelope signature is invalid.");
    row("payload not JSON", "", "", "payload:nope", 22,
        "The signed game manifest is not valid JSON.");
    const char* mismatch = "The signed game manifest does not match the repair plan.";
    row("manifest id in other case", "", R"({"manifestId":"M-1"})", "", 22, mismatch);
    row("manifest generation differs", "", R"({"generation":8})", "", 22, mismatch);
    row("manifest channel differs", "", R"({"channel":"preview"})", "", 22, mismatch);
    row("manifest file entry a string", "", R"({"files":["a.dat"]})", "", 22,
        "The signed game manifest contains an invalid file entry.");
    const char* metadataUnsafe = "The signed game manifest contains unsafe file metadata.";
    const QByteArray upperDigest =
        R"({"files":[{"path":"a.dat","size":1,"sha256":")" + QByteArray(64, 'A') + R"("}]})";
    QTest::newRow("manifest digest upper case")
        << QByteArray() << upperDigest << QString() << 22 << QString(metadataUnsafe);
    row("manifest size missing", "", R"({"files":[{"path":"a.dat","sha256":"00"}]})", "", 22,
        metadataUnsafe);

    row("plan file outside the manifest", R"({"files":["a.dat","zzz.dat"]})", "", "", 23,
        "The repair plan references a file outside the signed manifest.");
    row("staged file of another size", "", "", "staged:a.dat=short", 23,
        "A staged repair file does not match its signed size.");
    row("staged file a directory", "", "", "remove:staging/files/d.dat|mkdir:staging/files/d.dat",
        23, "A staged repair file does not match its signed size.");
    row("staged file of other bytes", "", "", "staged:a.dat=new a, of another sizE", 23,
        "A staged repair file does not match its signed hash.");

    row("journal empty", "", "", "journal:", 24,
        "An interrupted game repair journal could not be read safely.");
    row("journal without entries", "", "", R"(journal:{"schemaVersion":1,"entries":[]})", 24,
        "An interrupted game repair journal is invalid.");
    row("journal backup outside the backups", "", "",
        R"(journal:{"schemaVersion":1,"entries":[{"target":"a.dat","backup":".TAVORIN-backup/1/a.dat","hadOriginal":true}]})",
        24, "An interrupted game repair journal contains an unsafe path.");
    row("journal entry naming the journal", "", "",
        R"(journal:{"schemaVersion":1,"entries":[{"target":".Tavorin-Repair-Transaction.json","backup":".tavorin-backup/1/x","hadOriginal":false}]})",
        24, "An interrupted game repair journal contains an unsafe path.");

    row("backup directory cannot be made", "", "", "staged:../../inst/.tavorin-backup=file", 25,
        "Could not create the game repair backup directory.");
    // Left by a run that died after its commit; never in this run's way.
    row("stale backup a directory", "", "", "mkdir:inst/.tavorin-backup/7/a.dat/x", 0, "");
#ifndef Q_OS_WIN
    // Links, and a file system that tells letter cases apart: Linux only, since Windows links
    // cannot be made here (and Wine shows none).
    // Staged as the plan writes it, installed as the manifest does.
    row("plan path in other case", R"({"files":["A.dat","bin/b.dat","d.dat","new/deep/c.dat"]})",
        "", "staged:A.dat=new a, of another size", 0, "");
    row("plan file a link", "", "",
        "move:staging/plan.json=outside/plan.json|link:staging/plan.json=outside/plan.json", 21,
        "The game repair plan path is invalid.");
    row("installation root through a link", R"({"installationRoot":"@DIR@/linked/inst"})", "",
        "link:linked=.", 21, metadata);
    row("journal target behind a link", "", "",
        "mkdir:outside/l|staged:../../outside/l/x=victim|link:inst/linked=outside/l|"
        R"(journal:{"schemaVersion":1,"entries":[{"target":"linked/x","backup":".tavorin-backup/1/x","hadOriginal":false}]})",
        24, "An interrupted game repair journal contains an unsafe path.");
    row("link on the way to a target", "", "", "mkdir:outside/new|link:inst/new=outside/new", 25,
        "The game installation contains an unsafe symbolic link.");
    row("dangling link at a target", "", "", "link:inst/d.dat=outside/victim", 25,
        "The game installation contains an unsafe symbolic link.");
    row("link at the backup directory", "", "",
        "mkdir:outside/b|link:inst/.tavorin-backup=outside/b", 25,
        "The game installation contains an unsafe symbolic link.");
    row("staged files directory a link", "", "",
        "mkdir:outside/f|remove:staging/files|link:staging/files=outside/f", 23,
        "The repair staging directory contains a symbolic link.");
    // Stale entries left by a crash are removed as entries, never written through.
    row("dangling link at the temporary copy", "", "", "link:inst/a.dat.tavorin-new=outside/victim",
        0, "");
    row("dangling link at the backup path", "", "",
        "mkdir:inst/.tavorin-backup/7|link:inst/.tavorin-backup/7/a.dat=outside/victim", 0, "");
    row("journal a link", "", "", "link:inst/.tavorin-repair-transaction.json=outside/victim", 24,
        "An interrupted game repair journal could not be read safely.");
#endif
}

void TestRepair::rules() {
    QFETCH(QByteArray, planPatch);
    QFETCH(QByteArray, manifestPatch);
    QFETCH(QString, setup);
    QFETCH(int, code);
    QFETCH(QString, message);
    QTemporaryDir dir;
    RepairScenario s(dir.path());
    testsupport::applyPatch(s.plan, planPatch.replace("@DIR@", dir.path().toUtf8()));
    testsupport::applyPatch(s.manifest, manifestPatch);
    const bool relative = setup == "relative";
    QVERIFY(s.writeDocuments() && prepare(s, relative ? QString() : setup));
    const bool journalPlanted = setup.contains("journal:") || setup.contains("transaction.json");
    const testsupport::FileTree outside = testsupport::fileTree(s.path("outside"));

    const SignatureVerifier verifier(false);
    QString got;
    if (relative) {
        QDir::setCurrent(dir.path());
    }
    QCOMPARE(runGameRepair(relative ? kRelativeStaging : s.planPath(), verifier,
                           systemFileOperations(), got),
             code);
    QCOMPARE(got, message);
    QCOMPARE(testsupport::fileTree(s.path("outside")), outside);
    if (code == 0) {
        QCOMPARE(testsupport::fileTree(s.root(), false), s.repaired());
        return;
    }
    testsupport::FileTree expected = s.original();
    if (setup.contains("link:inst/d.dat")) {
        expected.insert("d.dat", "<link>");
    }
    QCOMPARE(testsupport::fileTree(s.root()), expected);
    QCOMPARE(QFileInfo::exists(repairJournalPath(s.root())) ||
                 QFileInfo(repairJournalPath(s.root())).isSymLink(),
             journalPlanted && code != 23);
}

// Every call of every kind of file operation fails in turn, once or from then on, in a repair of
// new and replaced files: the installation ends exactly as before (or, past the commit, exactly
// repaired), the journal as the failure point says; and a later run undoes whatever a failing
// rollback left, refusing bad staging, and then repairs.
void TestRepair::failureAtEveryStep() {
    const SignatureVerifier verifier(false);
    const QString noBackupDirectory = "Could not create the game repair backup directory.";
    const QString noJournal = "Could not write the game repair transaction journal.";
    const QString notCompleted = "Could not complete the game repair transaction safely.";
    int scenarios = 0;
    for (int kindIndex = 0; kindIndex < FileOperations::kKindCount; ++kindIndex) {
        const Kind kind = static_cast<Kind>(kindIndex);
        int calls = 0;
        {
            QTemporaryDir dir;
            RepairScenario s(dir.path());
            QVERIFY(s.writeDocuments());
            FaultyFileOperations counting;
            QString message;
            QCOMPARE(runGameRepair(s.planPath(), verifier, counting, message), 0);
            calls = counting.count(kind);
        }
        for (int k = 1; k <= calls; ++k) {
            for (const bool persistent : {false, true}) {
                const QByteArray where = QByteArray::number(kindIndex) + "/" +
                                         QByteArray::number(k) + (persistent ? " on" : " once");
                QTemporaryDir dir;
                RepairScenario s(dir.path());
                QVERIFY(s.writeDocuments());
                FaultyFileOperations faulty;
                faulty.failAt(kind, k, persistent);
                QString message;
                const int code = runGameRepair(s.planPath(), verifier, faulty, message);
                QVERIFY2(faulty.failed(), where);
                QVERIFY2(code == 0 || !message.isEmpty(), where);
                const testsupport::FileTree after = code == 0 ? s.repaired() : s.original();
                const bool journal = QFileInfo::exists(repairJournalPath(s.root()));
                // Committed, but the journal's removal may not be on the disk: the backups stay.
                QVERIFY2(kind != Kind::Flush || code != 0 ||
                             QFileInfo::exists(s.root() + "/.tavorin-backup/7"),
                         where);
                if (kind == Kind::Copy && k == 1) {
                    QCOMPARE(testsupport::readFile(repairJournalPath(s.root())), kJournal);
                }
                if (!persistent) {
                    QVERIFY2(testsupport::fileTree(s.root()) == after, where);
                    const bool journalExpected = code == 25 && message != noBackupDirectory &&
                                                 message != noJournal &&
                                                 !(kind == Kind::Remove && message == notCompleted);
                    QVERIFY2(journal == journalExpected, where + " " + message.toUtf8());
                }
                QVERIFY(s.spoilStaging(true));
                // Each kind of call failing in the recovery, from the same state: the journal
                // stays for the next recovery, which starts over.
                const testsupport::FileTree state = testsupport::fileTree(s.root(), false);
                for (int recoveryKind = 0; journal && recoveryKind < FileOperations::kKindCount;
                     ++recoveryKind) {
                    QVERIFY(QDir(s.root()).removeRecursively() &&
                            testsupport::writeTree(s.root(), state));
                    FaultyFileOperations failingRecovery;
                    failingRecovery.failAt(static_cast<Kind>(recoveryKind), 1);
                    const int code =
                        runGameRepair(s.planPath(), verifier, failingRecovery, message);
                    // The undo is made durable before the journal goes: a failed flush keeps it.
                    QVERIFY2((code == 23 && recoveryKind != static_cast<int>(Kind::Flush)) ||
                                 (code == 24 && QFileInfo::exists(repairJournalPath(s.root()))),
                             where);
                }
                message.clear();
                QCOMPARE(runGameRepair(s.planPath(), verifier, systemFileOperations(), message),
                         23);
                QVERIFY2(testsupport::fileTree(s.root()) == after, where);
                QVERIFY(s.spoilStaging(false));
                QCOMPARE(runGameRepair(s.planPath(), verifier, systemFileOperations(), message), 0);
                QVERIFY2(testsupport::fileTree(s.root(), false) == s.repaired(), where);
                ++scenarios;
            }
        }
    }
    qInfo("%d failure points", scenarios);
}

// The staged bytes change after they were checked, or something appears at a new file's target
// once its copy is made (planted by someone else): the copy does not go into place, and the
// repair is rolled back.
void TestRepair::onlyTheCheckedCopyGoesIntoPlace_data() {
    QTest::addColumn<QString>("planted");
    // Staged bytes changed after the staging was checked, the size kept.
    QTest::newRow("staged file swapped") << "swapped";
    QTest::newRow("directory") << "directory";
#ifndef Q_OS_WIN
    QTest::newRow("dangling link") << "link";
#endif
}

void TestRepair::onlyTheCheckedCopyGoesIntoPlace() {
    QFETCH(QString, planted);
    class PlantingOperations : public FileOperationsWrapper {
    public:
        PlantingOperations(const RepairScenario& s, const QString& planted)
            : FileOperationsWrapper(systemFileOperations()), s_(s), planted_(planted) {}
        bool copy(const QString& from, const QString& to) override {
            if (planted_ == "swapped" && from.endsWith("/files/a.dat")) {
                testsupport::writeFile(from, QByteArray(QFileInfo(from).size(), 'x'));
            }
            const bool copied = FileOperationsWrapper::copy(from, to);
            if (planted_ != "swapped" && to.endsWith("/d.dat.tavorin-new")) {
                planted_ == "link" ? QFile::link(s_.path("outside/victim"), s_.root() + "/d.dat")
                                   : QDir().mkdir(s_.root() + "/d.dat");
            }
            return copied;
        }

    private:
        const RepairScenario& s_;
        QString planted_;
    };
    QTemporaryDir dir;
    RepairScenario s(dir.path());
    QVERIFY(s.writeDocuments());
    PlantingOperations planting(s, planted);
    QString message;
    QCOMPARE(runGameRepair(s.planPath(), SignatureVerifier(false), planting, message), 25);
    QCOMPARE(message, "A copied game file failed verification before replacement.");
    QCOMPARE(testsupport::fileTree(s.root()), s.original());
    QVERIFY(!QFileInfo::exists(s.path("outside/victim")));
}

// A game file another process holds for a moment is backed up once it lets go; held for good,
// the repair fails as it would at once.
void TestRepair::transientErrorsAreRetried_data() {
    QTest::addColumn<int>("times");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("paused");
    QTest::newRow("held briefly") << 2 << 0 << 10 + 20;
    QTest::newRow("held for good") << INT_MAX << 25 << RetryingFileOperations::kPauseBudgetMs;
}

void TestRepair::transientErrorsAreRetried() {
    QFETCH(int, times);
    QFETCH(int, code);
    QFETCH(int, paused);
    const SignatureVerifier verifier(false);
    QTemporaryDir dir;
    RepairScenario s(dir.path());
    QVERIFY(s.writeDocuments());
    testsupport::FaultyFileOperations faulty;
    faulty.failTimes(FileOperations::Kind::Rename, 1, times, 32);
    RetryingFileOperations files(faulty, true, [&](int ms) { paused -= ms; });
    QString message;
    QCOMPARE(runGameRepair(s.planPath(), verifier, files, message), code);
    QCOMPARE(testsupport::fileTree(s.root()), code == 0 ? s.repaired() : s.original());
    QCOMPARE(paused, 0);
}

QTEST_GUILESS_MAIN(TestRepair)
#include "tst_repair.moc"
