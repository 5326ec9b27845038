// The launcher update in process: the delta plan's rules, one row each with its exact message;
// the shared update rows; the journal's versions byte for byte; and every file operation of an
// update failing in turn.
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include "delta_plan.h"
#include "faulty_file_operations.h"
#include "file_fixtures.h"
#include "job_rows.h"
#include "launcher_update.h"
#include "package_checks.h"
#include "retrying_file_operations.h"
#include "signature_verifier.h"
#include "update_scenario.h"

using namespace testsupport;
using Kind = FileOperations::Kind;

namespace {

const QString kNotStarted = "The updated launcher did not start successfully.";
const LauncherStart kAcknowledge = [](const QString&, const QString&) { return true; };

UpdateRequest requestFor(const UpdateScenario& s, const RowRequest& row = {}) {
    const QString plan = row.deltaPlan.isEmpty() && s.delta ? s.planPath() : row.deltaPlan;
    return {s.root,      row.stagedRoot.isEmpty() ? s.staging : row.stagedRoot,
            "2.0",       s.ack,
            plan,        s.delta ? "1.0" : QString(),
            row.elevated};
}

// Records the journal's versions and the flushes between them; runs a row's "sized" setup steps
// at the first size taken, the "late" ones before the first rename.
class Watching : public FileOperationsWrapper {
public:
    Watching(const UpdateScenario& s, const QString& setup = QString())
        : FileOperationsWrapper(systemFileOperations()), s_(s), setup_(setup) {}
    qint64 regularFileSize(const QString& path) override {
        sized_ = sized_ || prepareUpdate(s_, request_, setup_, "sized");
        return FileOperationsWrapper::regularFileSize(path);
    }
    bool rename(const QString& from, const QString& to) override {
        late_ = late_ || prepareUpdate(s_, request_, setup_, "late");
        return FileOperationsWrapper::rename(from, to);
    }
    bool writeFile(const QString& path, const QByteArray& data) override {
        const QJsonObject journal = QJsonDocument::fromJson(data).object();
        versions << data;
        steps << journal["phase"].toString() + "/" +
                     QString::number(journal["files"].toArray().size());
        return FileOperationsWrapper::writeFile(path, data);
    }
    bool flushDirectory(const QString& path) override {
        steps << "flush";
        return FileOperationsWrapper::flushDirectory(path);
    }
    bool syncFileSystem(const QString& path) override {
        steps << "sync";
        return FileOperationsWrapper::syncFileSystem(path);
    }
    QList<QByteArray> versions;
    QStringList steps;

private:
    const UpdateScenario& s_;
    const QString setup_;
    RowRequest request_;
    bool sized_ = false;
    bool late_ = false;
};

// A plan of the launcher's two files and lib/a.dll; @Z@ a digest of zeros, @A@ one in upper case,
// @S@ the first file's size.
const char* const kPlan =
    R"({"schemaVersion":1,"fromVersion":"v1.0","toVersion":"v2.0",)"
    R"("files":[{"path":"ClientLauncher.exe","size":"@S@","sha256":"@Z@"},)"
    R"({"path":"LauncherUpdater.exe","size":1,"sha256":"@Z@"},)"
    R"({"path":"lib/a.dll","size":0,"sha256":"@Z@"}],)"
    R"("replace":["ClientLauncher.exe","LauncherUpdater.exe"],"remove":["old.dll"]})";

struct Row {
    const char* name;
    // Steps separated by '|' on kPlan: a JSON patch; size:N the first file's size; add:ENTRY
    // one more file; files:N, pad:N the plan's files and bytes; bytes:TEXT the whole plan.
    const char* setup;
    const char* message;
};
const char* const kFields = "Launcher delta plan fields are invalid.";
const char* const kInventory = "Launcher delta target inventory is invalid.";
const char* const kReplace = "Launcher delta replacement list is invalid.";
const char* const kBoth = "Launcher delta does not replace both launcher executables.";
const char* const kRemove = "Launcher delta removal list is invalid.";
// clang-format off
const Row kPlanRows[] = {
    {"valid", "", ""},
    {"replaced in other case", R"({"replace":["CLIENTLAUNCHER.EXE","launcherupdater.exe"]})", ""},
    {"remove names a directory of inventory files", R"({"remove":["lib"]})", ""},
    {"sizes total 2147483648", "size:2147483647", ""},
    {"plan of 4194304 bytes", "pad:4194304", ""},
    {"20000 files", "files:20000", ""},
    {"plan of 4194305 bytes", "pad:4194305", "Launcher delta plan is missing or too large."},
    {"plan not JSON", "bytes:{", "Launcher delta plan is invalid JSON."},
    {"schema version 2", R"({"schemaVersion":2})", kFields},
    {"from version in other case", R"({"fromVersion":"V1.0"})", kFields},
    {"to version differs", R"({"toVersion":"v2.1"})", kFields},
    {"remove missing", R"({"remove":null})", kFields},
    {"files empty", R"({"files":[]})", kFields},
    {"replace empty", R"({"replace":[]})", kFields},
    {"20001 files", "files:20001", kFields},
    {"size -1", "size:-1", kInventory},
    {"size 2147483649", "size:2147483649", kInventory},
    {"sizes total 2147483649", "size:2147483648", kInventory},
    {"digest upper case", R"(add:{"path":"x","size":1,"sha256":"@A@"})", kInventory},
    {"paths equal after folding", R"(add:{"path":"LIB/A.DLL","size":0,"sha256":"@Z@"})",
     kInventory},
    {"replaced path not in the inventory",
     R"({"replace":["ClientLauncher.exe","LauncherUpdater.exe","nope.dll"]})", kReplace},
    {"replaced twice after folding",
     R"({"replace":["ClientLauncher.exe","LauncherUpdater.exe","CLIENTLAUNCHER.EXE"]})", kReplace},
    {"launcher only in a subdirectory", R"(add:{"path":"bin/ClientLauncher.exe","size":1,)"
     R"("sha256":"@Z@"}|{"replace":["bin/ClientLauncher.exe","LauncherUpdater.exe"]})", kBoth},
    {"updater not replaced", R"({"replace":["ClientLauncher.exe"]})", kBoth},
    {"removed path in the inventory, other case", R"({"remove":["LIB/A.DLL"]})", kRemove},
    {"removed twice after folding", R"({"remove":["x.dll","X.DLL"]})", kRemove},
};

// A file held by another process for a moment (a scanner on Windows): `times` failures in a row
// of call `k` of `kind` with `error`; k 0: the first rename of the rollback after a failed start.
struct RetryRow {
    const char* name;
    Kind kind;
    int k, times;
    uint error;
    const char* message;  // "rolled back": the start fails, and the rollback is what is held
    int paused;           // in milliseconds, all told
};
const RetryRow kRetryRows[] = {
    {"backup held briefly", Kind::Rename, 1, 3, 32, "", 10 + 20 + 40},
    {"copy locked briefly", Kind::Copy, 2, 2, 33, "", 10 + 20},
    {"journal mapped briefly", Kind::WriteFile, 1, 1, 1224, "", 10},
    {"pending deletion, briefly", Kind::Remove, 1, 1, 5, "", 10},
    {"rollback held briefly", Kind::Rename, 0, 4, 32, "rolled back", 10 + 20 + 40 + 80},
    {"backup held for good", Kind::Rename, 1, INT_MAX, 32,
     "Could not back up old/x.dll (Windows error 32).", RetryingFileOperations::kPauseBudgetMs},
    {"backup refused for another reason", Kind::Rename, 1, 1, 87,
     "Could not back up old/x.dll (Windows error 87).", 0},
};
// clang-format on

template <typename Row, std::size_t N>
void addRows(const Row (&rows)[N]) {
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < N; ++i) {
        QTest::newRow(rows[i].name) << int(i);
    }
}

}  // namespace

class TestUpdate : public QObject {
    Q_OBJECT

    // Trusts the test key, compiled in as the updater's own.
    const SignatureVerifier verifier_{false};

private slots:
    void deltaPlanRules_data() { addRows(kPlanRows); }
    void deltaPlanRules();
    void fullPackageLimits();
    void outcomes_data();
    void outcomes();
    void removedPathStates();
    void rollbackLeavesLinkedDirectoriesAlone();
    void journalVersions();
    void failureAtEveryStep();
    void transientErrorsAreRetried_data() { addRows(kRetryRows); }
    void transientErrorsAreRetried();
};

void TestUpdate::deltaPlanRules() {
    QFETCH(int, row);
    const Row& r = kPlanRows[row];
    QJsonObject plan = QJsonDocument::fromJson(kPlan).object();
    for (const QByteArray& step : QByteArray(r.setup).split('|')) {
        QJsonArray files = plan["files"].toArray();
        for (int n = step.startsWith("files:") ? step.mid(6).toInt() : 0; files.size() < n;) {
            files.append(QJsonObject{
                {"path", QString("f%1").arg(files.size())}, {"size", 0}, {"sha256", "@Z@"}});
        }
        if (step.startsWith("add:")) {
            files.append(QJsonDocument::fromJson(step.mid(4)).object());
        }
        plan.insert("files", files);
        applyPatch(plan, step);
    }
    const QByteArray verb = QByteArray(r.setup).split(':').first();
    const QByteArray arg = QByteArray(r.setup).mid(verb.size() + 1);
    QByteArray bytes = QJsonDocument(plan).toJson(QJsonDocument::Compact);
    bytes.replace("@Z@", QByteArray(64, '0')).replace("@A@", QByteArray(64, 'A'));
    bytes.replace("\"@S@\"", verb == "size" ? arg : "1");
    if (verb == "pad") {
        bytes.append(QByteArray(arg.toInt() - bytes.size(), ' '));
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("launcher-update-plan.json");
    QVERIFY(writeFile(path, verb == "bytes" ? arg : bytes));
    DeltaPlan loaded;
    loaded.toVersion = "unchanged";
    QString got;
    QCOMPARE(loadDeltaPlan(path, "v1.0", "v2.0", systemFileOperations(), loaded, got), !*r.message);
    QCOMPARE(got, r.message);
    if (*r.message) {
        QCOMPARE(loaded.toVersion, "unchanged");
    } else {
        QCOMPARE(loaded.replace.mid(0, 2),
                 QStringList({"ClientLauncher.exe", "LauncherUpdater.exe"}));
        QCOMPARE(loaded.files.first().sha256, QByteArray(32, 0));
    }
}

// The limits of a full package, at and one past each: 20000 files, 2147483648 bytes in all.
void TestUpdate::fullPackageLimits() {
    QTemporaryDir dir;
    QVERIFY(writeTree(dir.path(), {{"ClientLauncher.exe", "1"}, {"LauncherUpdater.exe", "2"}}));
    const QString big = dir.filePath("big.pak");
    const auto scan = [&](bool fits, int count) {
        QStringList files;
        QString message;
        QCOMPARE(scanFullPackage(dir.path(), files, message), fits);
        QCOMPARE(files.size(), fits ? count : 0);
        QCOMPARE(message, fits ? QString() : "Launcher update package is too large.");
    };
    for (const qint64 size : {2147483646LL, 2147483647LL}) {
        QVERIFY(writeFile(big, {}) && QFile(big).resize(size));  // sparse
        scan(size == 2147483646LL, 3);
    }
    QVERIFY(QFile::remove(big) && QDir(dir.path()).mkdir("many"));
    for (int i = 2; i < 20001; ++i) {
        QVERIFY(writeFile(dir.filePath(QString("many/%1").arg(i)), ""));
        if (i >= 19999) {
            scan(i == 19999, 20000);
        }
    }
}

void TestUpdate::outcomes_data() {
    addRows<UpdateRow>(updateRows(), false, kWindowsBuild, [](const UpdateRow& r) {
        return QByteArray(r.launcher) == "exit" || QByteArray(r.launcher) == "no-ack";
    });
}

void TestUpdate::outcomes() {
    QFETCH(int, row);
    const UpdateRow& r = updateRows().at(row);
    QTemporaryDir dir;
    const auto [rootName, ackName] = scenarioNames(r.setup);
    const UpdateScenario s(dir.path(), r.delta, rootName, ackName);
    RowRequest changes;
    QVERIFY(s.write() && prepareUpdate(s, changes, r.setup));
    const FileTree before = installationTree(s.root);
    const FileTree outside = installationTree(s.path("outside"));
    Watching files(s, r.setup);
    bool started = false;
    QString got;
    const bool updated = applyLauncherUpdate(
        requestFor(s, changes), verifier_, files,
        [&](const QString&, const QString&) {
            started = true;
            return QByteArray(r.launcher) == "exit";
        },
        got);
    QCOMPARE(updated, got.isEmpty());
    QCOMPARE(started, updated || got == kNotStarted);
    checkUpdateRun(r, s, before, outside, got);
}

// What a delta's result check makes of each state of a path it removes: gone, or a directory
// that still holds inventory files, pass; a file, an empty directory or a link fails.
void TestUpdate::removedPathStates() {
    const std::tuple<const char*, const char*, bool> states[] = {
        {"", "gone", true},
        {"write:inst/gone=x", "gone", false},
        {"mkdir:inst/gone", "gone", false},
        {"", "bin", true},
#ifndef Q_OS_WIN
        {"link:inst/gone=outside/none", "gone", false},
#endif
    };
    for (const auto& [setup, removed, passes] : states) {
        QTemporaryDir dir;
        const UpdateScenario s(dir.path(), true);
        RowRequest request;
        QVERIFY(s.write() && QDir(s.root).removeRecursively() &&
                writeTree(s.root, s.after(false)) && prepareUpdate(s, request, setup));
        DeltaPlan plan;
        QString message;
        QVERIFY(loadDeltaPlan(s.planPath(), "1.0", "2.0", systemFileOperations(), plan, message));
        plan.remove = QStringList{removed};
        QCOMPARE(verifyDeltaResult(s.root, plan, systemFileOperations(), message), passes);
        QCOMPARE(message, passes ? "" : "Launcher delta did not remove an obsolete file.");
    }
}

// A directory of the installation swapped for a link after its entry was made: the rollback
// removes nothing through it and leaves the original in the backup.
void TestUpdate::rollbackLeavesLinkedDirectoriesAlone() {
    if (kWindowsBuild) {
        QSKIP("links cannot be made here");
    }
    QTemporaryDir dir;
    const UpdateScenario s(dir.path(), false);
    QVERIFY(s.write() && QDir(s.root).rename("bin", "../outside/bin") &&
            QFile::link(s.path("outside/bin"), s.root + "/bin") &&
            writeTree(s.path("backup"), {{"core.dll", "saved core"}}));
    rollBackUpdateEntries(
        {{"bin/core.dll", s.root + "/bin/core.dll", s.path("backup/core.dll"), true, true, {}, {}}},
        s.root, systemFileOperations());
    QCOMPARE(readFile(s.path("outside/bin/core.dll")), "old core");
    QVERIFY(QFile::exists(s.path("backup/core.dll")));
}

// Every version of the journal of a delta in order, between the flushes that make what it
// describes durable, and the last one whole, with a launcher that acknowledges and one that does
// not.
void TestUpdate::journalVersions() {
    for (const bool acknowledged : {true, false}) {
        QTemporaryDir dir;
        const UpdateScenario s(dir.path(), true);
        QVERIFY(s.write());
        Watching files(s);
        QString launched;
        QString message;
        const bool updated = applyLauncherUpdate(
            requestFor(s), verifier_, files,
            [&](const QString& launcher, const QString& ack) {
                launched = launcher + " " + ack;
                return acknowledged && installationTree(s.root) == s.after();
            },
            message);
        QCOMPARE(updated, acknowledged);
        QCOMPARE(launched, s.root + "/ClientLauncher.exe " + s.ack);
        QStringList expected = {"flush",       "flush", "applying/0",
                                "applying/10", "sync",  "awaiting-start/10"};
        expected << (acknowledged ? QStringList{"completed/10"}
                                  : QStringList{"sync", "rolled-back/10"});
        QCOMPARE(files.steps, expected);
        QCOMPARE(files.versions.first(), R"({"files":[],"phase":"applying","schemaVersion":1})");
        const QByteArray entries =
            R"({"files":[{"hadOriginal":true,"path":"old/x.dll","replacement":false},)"
            R"({"hadOriginal":true,"path":"plugins","replacement":false},)"
            R"({"hadOriginal":false,"path":"cache/gone.txt","replacement":false},)"
            R"({"hadOriginal":true,"path":"ClientLauncher.exe","replacement":true},)"
            R"({"hadOriginal":true,"path":"LauncherUpdater.exe","replacement":true},)"
            R"({"hadOriginal":true,"path":"bin/core.dll","replacement":true},)"
            R"({"hadOriginal":true,"path":"data","replacement":true},)"
            R"({"hadOriginal":false,"path":"new/deep/n.dll","replacement":true},)"
            // Its original went with "plugins", so its backup is that of "plugins".
            R"({"hadOriginal":false,"path":"plugins/sub/p2.dll","replacement":true},)"
            R"({"hadOriginal":false,"path":"saves/slot1/slot.dat","replacement":true}],"phase":")";
        // The version written before the first change already says all that the run finds.
        QCOMPARE(files.versions.at(1), entries + R"(applying","schemaVersion":1})");
        QCOMPARE(files.versions.last(), entries + (acknowledged ? "completed" : "rolled-back") +
                                            R"(","schemaVersion":1})");
        QCOMPARE(installationTree(s.root), acknowledged ? s.after() : s.before());
        QCOMPARE(s.workDirectories().size(), acknowledged ? 0 : 1);
        QCOMPARE(QJsonDocument(s.journal()).toJson(QJsonDocument::Compact),
                 acknowledged ? "{}" : files.versions.last());
    }
}

// Every call of every kind of file operation of a delta fails in turn. Once: the installation
// ends exactly as before (or updated, when the failure did not matter), with the journal phase
// the failure point calls for. From then on, so that the rollback fails too: every original is
// in place or in the backup, and the journal names every path that differs.
void TestUpdate::failureAtEveryStep() {
    const int points = sweepFailures([&](FaultyFileOperations& files, const FailurePoint& at) {
        QTemporaryDir dir;
        const UpdateScenario s(dir.path(), true);
        QVERIFY(s.write());
        QString message;
        const bool updated =
            applyLauncherUpdate(requestFor(s), verifier_, files, kAcknowledge, message);
        QVERIFY2(
            files.failed() == (at.k > 0) && updated == message.isEmpty() && (updated || at.k > 0),
            at.where);
        if (at.persistent && !updated) {
            QVERIFY2(s.inconsistency().isEmpty(), at.where + " " + s.inconsistency().toUtf8());
            return;
        }
        const QByteArray where = at.where + " " + message.toUtf8();
        if (updated) {
            // A directory left empty when its removal failed stays.
            QVERIFY2(fileTree(s.root) == s.after(false), where);
            return;
        }
        QVERIFY2(installationTree(s.root) == s.before(), where);
        // No work directory when the checks (a hash of each staged file and of the kept one)
        // or its creation failed; no journal when it could not be made durable or the first
        // version could not be written.
        const bool noWork = (at.kind == Kind::Hash && at.k <= s.staged.size() + 1) ||
                            (at.kind == Kind::MakeDirectory && at.k == 1);
        const bool noJournal =
            message == "Could not create the launcher update backup directory." ||
            (at.kind == Kind::WriteFile && at.k == 1);
        QVERIFY2(s.workDirectories().isEmpty() == noWork, where);
        QVERIFY2(s.journal()["phase"].toString() == (noWork || noJournal ? "" : "applying"), where);
        // A path that failed is the last the journal names, as it would be had the journal been
        // written before each path.
        const QRegularExpressionMatch failed =
            QRegularExpression("^Could not (back up|install) (.*?)( \\(Windows error \\d+\\))?\\.$")
                .match(message);
        const QJsonArray listed = s.journal()["files"].toArray();
        QVERIFY2(
            !failed.hasMatch() ||
                (listed.size() == (s.removed + s.staged.keys()).indexOf(failed.captured(2)) + 1 &&
                 listed.last()["path"] == failed.captured(2)),
            where);
    });
    qInfo("%d failure points", points);
}

// A held file is tried again after short pauses and the update goes on, the rollback after a
// failed start too; held for good, or failing with an error no scanner causes, the update fails
// as it would at once, and says why.
void TestUpdate::transientErrorsAreRetried() {
    QFETCH(int, row);
    const RetryRow& r = kRetryRows[row];
    QTemporaryDir dir;
    const UpdateScenario s(dir.path(), true);
    QVERIFY(s.write());
    const bool rollBack = r.k == 0;
    FaultyFileOperations faulty;
    // Rolling back: every rename up to the start, counted; the next is the rollback's first.
    const LauncherStart fails = [&](const QString&, const QString&) {
        faulty.failTimes(Kind::Rename, faulty.count(Kind::Rename) + 1, r.times, r.error);
        return false;
    };
    if (!rollBack) {
        faulty.failTimes(r.kind, r.k, r.times, r.error);
    }
    int paused = 0;
    RetryingFileOperations files(faulty, true, [&](int ms) { paused += ms; });
    QString failure;
    QCOMPARE(applyLauncherUpdate(requestFor(s), verifier_, files, rollBack ? fails : kAcknowledge,
                                 failure),
             !*r.message);
    QCOMPARE(failure, rollBack ? kNotStarted : r.message);
    QCOMPARE(installationTree(s.root), *r.message ? s.before() : s.after());
    QCOMPARE(paused, r.paused);
}

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
