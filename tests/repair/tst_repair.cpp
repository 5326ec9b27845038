// The game repair run in process: one row per rule with its exact message and code, and every
// file operation of a repair failing in turn.
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include "faulty_file_operations.h"
#include "file_fixtures.h"
#include "file_operations.h"
#include "game_repair_run.h"
#include "job_rows.h"
#include "repair_journal.h"
#include "repair_scenario.h"
#include "signature_verifier.h"
#include "signing_fixtures.h"

using namespace testsupport;
using Kind = FileOperations::Kind;

namespace {

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
    void rules_data() { addRows(repairRows(), false, kWindowsBuild); }
    void rules();
    void failureAtEveryStep();
    void onlyTheCheckedCopyGoesIntoPlace();
};

void TestRepair::rules() {
    QFETCH(int, row);
    const RepairRow& r = repairRows().at(row);
    QTemporaryDir dir;
    RepairScenario s(dir.path());
    applyPatch(s.plan, QByteArray(r.plan).replace("@DIR@", dir.path().toUtf8()));
    applyPatch(s.manifest, r.manifest);
    QVERIFY(s.writeDocuments() && prepareRepair(s, r.setup));
    const FileTree outside = fileTree(s.path("outside"));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QString got;
    const int code =
        runGameRepair(QByteArray(r.setup) == "relative" ? "staging/plan.json" : s.planPath(),
                      SignatureVerifier(false), systemFileOperations(), got);
    QDir::setCurrent(previous);
    checkRepairRun(r, s, outside, code, got);
}

// Every call of every kind of file operation fails in turn, once or from then on, in a repair of
// new and replaced files: the installation ends exactly as before (or, past the commit, exactly
// repaired), the journal as the failure point says; and a later run undoes whatever a failing
// rollback left, refusing bad staging, and then repairs.
void TestRepair::failureAtEveryStep() {
    const SignatureVerifier verifier(false);
    const int points = sweepFailures([&](FaultyFileOperations& faulty, const FailurePoint& at) {
        QTemporaryDir dir;
        RepairScenario s(dir.path());
        QVERIFY(s.writeDocuments());
        QString message;
        const int code = runGameRepair(s.planPath(), verifier, faulty, message);
        QVERIFY2(faulty.failed() == (at.k > 0) && (code == 0 || !message.isEmpty()), at.where);
        const FileTree after = code == 0 ? s.repaired() : s.original();
        const bool journal = QFileInfo::exists(repairJournalPath(s.root()));
        // Committed, but the journal's removal may not be on the disk: the backups stay.
        QVERIFY2(at.kind != Kind::Flush || at.k == 0 || code != 0 ||
                     QFileInfo::exists(s.root() + "/.tavorin-backup/7"),
                 at.where);
        if (at.kind == Kind::Copy && at.k == 1) {
            QCOMPARE(readFile(repairJournalPath(s.root())), kJournal);
        }
        if (!at.persistent) {
            QVERIFY2(fileTree(s.root()) == after, at.where);
            const bool journalExpected =
                code == 25 && message != "Could not create the game repair backup directory." &&
                message != "Could not write the game repair transaction journal." &&
                !(at.kind == Kind::Remove &&
                  message == "Could not complete the game repair transaction safely.");
            QVERIFY2(journal == journalExpected, at.where + " " + message.toUtf8());
        }
        QVERIFY(s.spoilStaging(true));
        // Each kind of call failing in the recovery, from the same state: the journal stays for
        // the next recovery, which starts over.
        const FileTree state = fileTree(s.root(), false);
        for (int kind = 0; journal && kind < FileOperations::kKindCount; ++kind) {
            QVERIFY(QDir(s.root()).removeRecursively() && writeTree(s.root(), state));
            FaultyFileOperations failingRecovery;
            failingRecovery.failAt(Kind(kind), 1);
            const int code = runGameRepair(s.planPath(), verifier, failingRecovery, message);
            // The undo is made durable before the journal goes: a failed flush keeps it.
            QVERIFY2((code == 23 && Kind(kind) != Kind::Flush) ||
                         (code == 24 && QFileInfo::exists(repairJournalPath(s.root()))),
                     at.where);
        }
        QCOMPARE(runGameRepair(s.planPath(), verifier, systemFileOperations(), message), 23);
        QVERIFY2(fileTree(s.root()) == after, at.where);
        QVERIFY(s.spoilStaging(false));
        QCOMPARE(runGameRepair(s.planPath(), verifier, systemFileOperations(), message), 0);
        QVERIFY2(fileTree(s.root(), false) == s.repaired(), at.where);
    });
    qInfo("%d failure points", points);
}

// The staged bytes change after they were checked (the size kept), or something appears at a
// new file's target once its copy is made (planted by someone else): a directory, or a dangling
// link where links can be made. The copy does not go into place, and the repair is rolled back.
void TestRepair::onlyTheCheckedCopyGoesIntoPlace() {
    class Planting : public FileOperationsWrapper {
    public:
        Planting(const RepairScenario& s, const QString& planted)
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
        const RepairScenario& s_;
        QString planted_;
    };
    for (const char* planted : {"swapped", "directory", kWindowsBuild ? "directory" : "link"}) {
        QTemporaryDir dir;
        RepairScenario s(dir.path());
        QVERIFY(s.writeDocuments());
        Planting planting(s, planted);
        QString message;
        QCOMPARE(runGameRepair(s.planPath(), SignatureVerifier(false), planting, message), 25);
        QCOMPARE(message, "A copied game file failed verification before replacement.");
        QCOMPARE(fileTree(s.root()), s.original());
        QVERIFY(!QFileInfo::exists(s.path("outside/victim")));
    }
}

QTEST_GUILESS_MAIN(TestRepair)
#include "tst_repair.moc"
