// The launcher update in process: the delta plan's, the release's and the packages' rules, one
// row each with its exact message; the journal's versions byte for byte; and every file operation
// of an update failing in turn.
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include "delta_plan.h"
#include "faulty_file_operations.h"
#include "file_fixtures.h"
#include "job_rows.h"
#include "launcher_update.h"
#include "package_checks.h"
#include "release_manifest.h"
#include "retrying_file_operations.h"
#include "signature_verifier.h"
#include "update_scenario.h"

using testsupport::FileTree;
using testsupport::installationTree;
using testsupport::UpdateScenario;
using Kind = FileOperations::Kind;

namespace {

const QString kNotStarted = "The updated launcher did not start successfully.";
const LauncherStart kAcknowledge = [](const QString&, const QString&) { return true; };

UpdateRequest requestFor(const UpdateScenario& s, const testsupport::RowRequest& row = {}) {
    return {s.root,
            row.stagedRoot.isEmpty() ? s.staging : row.stagedRoot,
            "2.0",
            s.ack,
            !row.deltaPlan.isEmpty() ? row.deltaPlan
            : s.delta                ? s.planPath()
                                     : QString(),
            s.delta ? "1.0" : QString(),
            row.elevated};
}

// Runs the "sized" setup steps at the first size taken, the "late" ones before the first rename.
class LateSetup : public FileOperationsWrapper {
public:
    LateSetup(const UpdateScenario& s, const QString& setup)
        : FileOperationsWrapper(systemFileOperations()), s_(s), setup_(setup) {}
    qint64 regularFileSize(const QString& path) override {
        sized_ = sized_ || testsupport::prepareUpdate(s_, request_, setup_, "sized");
        return FileOperationsWrapper::regularFileSize(path);
    }
    bool rename(const QString& from, const QString& to) override {
        late_ = late_ || testsupport::prepareUpdate(s_, request_, setup_, "late");
        return FileOperationsWrapper::rename(from, to);
    }

private:
    const UpdateScenario& s_;
    testsupport::RowRequest request_;
    QString setup_;
    bool sized_ = false;
    bool late_ = false;
};

// Records the journal's versions and the flushes between them.
class Recording : public FileOperationsWrapper {
public:
    Recording() : FileOperationsWrapper(systemFileOperations()) {}
    bool writeFile(const QString& path, const QByteArray& data) override {
        versions << data;
        const QJsonObject journal = QJsonDocument::fromJson(data).object();
        steps << journal.value("phase").toString() + "/" +
                     QString::number(journal.value("files").toArray().size());
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
};

struct PlanRow {
    const char* name;
    const char* patch;  // merged into a valid plan
    // size:N the first file's size; add:ENTRY one more file; pad:N, files:N the plan's bytes and
    // files; bytes:TEXT the whole plan; none: no plan file
    const char* setup;
    const char* message;
};
const char* const kMissing = "Launcher delta plan is missing or too large.";
const char* const kJson = "Launcher delta plan is invalid JSON.";
const char* const kFields = "Launcher delta plan fields are invalid.";
const char* const kInventory = "Launcher delta target inventory is invalid.";
const char* const kReplace = "Launcher delta replacement list is invalid.";
const char* const kBoth = "Launcher delta does not replace both launcher executables.";
const char* const kRemove = "Launcher delta removal list is invalid.";
const PlanRow kPlanRows[] = {
    {"valid", "", "", ""},
    {"replaced in other case", R"({"replace":["CLIENTLAUNCHER.EXE","launcherupdater.exe"]})", "",
     ""},
    {"remove names a directory of inventory files", R"({"remove":["lib"]})", "", ""},
    {"sizes total 2147483648", "", "size:2147483647", ""},
    {"plan of 4194304 bytes", "", "pad:4194304", ""},
    {"20000 files", "", "files:20000", ""},
    {"plan of 4194305 bytes", "", "pad:4194305", kMissing},
    {"plan missing", "", "none", kMissing},
    {"plan not JSON", "", "bytes:{", kJson},
    {"schema version 2", R"({"schemaVersion":2})", "", kFields},
    {"from version in other case", R"({"fromVersion":"V1.0"})", "", kFields},
    {"to version differs", R"({"toVersion":"v2.1"})", "", kFields},
    {"remove missing", R"({"remove":null})", "", kFields},
    {"files empty", R"({"files":[]})", "", kFields},
    {"replace empty", R"({"replace":[]})", "", kFields},
    {"20001 files", "", "files:20001", kFields},
    {"size -1", "", "size:-1", kInventory},
    {"size 2147483649", "", "size:2147483649", kInventory},
    {"sizes total 2147483649", "", "size:2147483648", kInventory},
    {"digest upper case", "", R"(add:{"path":"x","size":1,"sha256":"@A@"})", kInventory},
    {"paths equal after folding", "", R"(add:{"path":"LIB/A.DLL","size":0,"sha256":"@Z@"})",
     kInventory},
    {"replaced path not in the inventory",
     R"({"replace":["ClientLauncher.exe","LauncherUpdater.exe","nope.dll"]})", "", kReplace},
    {"replaced twice after folding",
     R"({"replace":["ClientLauncher.exe","LauncherUpdater.exe","CLIENTLAUNCHER.EXE"]})", "",
     kReplace},
    {"launcher only in a subdirectory",
     R"({"files":[{"path":"bin/ClientLauncher.exe","size":1,"sha256":"@Z@"},)"
     R"({"path":"LauncherUpdater.exe","size":1,"sha256":"@Z@"}],)"
     R"("replace":["bin/ClientLauncher.exe","LauncherUpdater.exe"]})",
     "", kBoth},
    {"updater not replaced", R"({"replace":["ClientLauncher.exe"]})", "", kBoth},
    {"removed path in the inventory, other case", R"({"remove":["LIB/A.DLL"]})", "", kRemove},
    {"removed twice after folding", R"({"remove":["x.dll","X.DLL"]})", "", kRemove},
};

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
    void releaseManifestRules();
    void outcomes_data();
    void outcomes();
    void removedPathStates();
    void rollbackLeavesLinkedDirectoriesAlone();
    void journalVersions();
    void failureAtEveryStep();
    void transientErrorsAreRetried_data();
    void transientErrorsAreRetried();
};

void TestUpdate::deltaPlanRules() {
    QFETCH(int, row);
    const PlanRow& r = kPlanRows[row];
    QJsonObject plan =
        QJsonDocument::fromJson(R"({"schemaVersion":1,"fromVersion":"v1.0","toVersion":"v2.0",)"
                                R"("files":[{"path":"ClientLauncher.exe","size":1,"sha256":"@Z@"},)"
                                R"({"path":"LauncherUpdater.exe","size":1,"sha256":"@Z@"},)"
                                R"({"path":"lib/a.dll","size":0,"sha256":"@Z@"}],)"
                                R"("replace":["ClientLauncher.exe","LauncherUpdater.exe"],)"
                                R"("remove":["old.dll"]})")
            .object();
    testsupport::applyPatch(plan, r.patch);
    const QString verb = QString(r.setup).section(':', 0, 0);
    const QString arg = QString(r.setup).section(':', 1);
    QJsonArray files = plan.value("files").toArray();
    if (verb == "size") {
        QJsonObject first = files.first().toObject();
        first.insert("size", QJsonDocument::fromJson("[" + arg.toUtf8() + "]").array().first());
        files.replace(0, first);
    } else if (verb == "add") {
        files.append(QJsonDocument::fromJson(arg.toUtf8()).object());
    }
    while (verb == "files" && files.size() < arg.toInt()) {
        files.append(QJsonObject{
            {"path", QString("f%1").arg(files.size())}, {"size", 0}, {"sha256", "@Z@"}});
    }
    plan.insert("files", files);
    QByteArray bytes = QJsonDocument(plan).toJson(QJsonDocument::Compact);
    bytes.replace("@Z@", QByteArray(64, '0')).replace("@A@", QByteArray(64, 'A'));
    if (verb == "pad") {
        bytes.append(QByteArray(arg.toInt() - bytes.size(), ' '));
    } else if (verb == "bytes") {
        bytes = arg.toUtf8();
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("launcher-update-plan.json");
    QVERIFY(verb == "none" || testsupport::writeFile(path, bytes));
    DeltaPlan loaded;
    loaded.toVersion = "unchanged";
    QString got;
    const QString message = r.message;
    QCOMPARE(loadDeltaPlan(path, "v1.0", "v2.0", systemFileOperations(), loaded, got),
             message.isEmpty());
    QCOMPARE(got, message);
    if (message.isEmpty()) {
        QCOMPARE(loaded.replace.mid(0, 2),
                 QStringList({"ClientLauncher.exe", "LauncherUpdater.exe"}));
        QCOMPARE(loaded.files.first().sha256, QByteArray(32, 0));
    } else {
        QCOMPARE(loaded.toVersion, "unchanged");
    }
}

// The limits of a full package, at and one past each: 20000 files, 2147483648 bytes in all.
void TestUpdate::fullPackageLimits() {
    QTemporaryDir dir;
    QVERIFY(testsupport::writeTree(dir.path(),
                                   {{"ClientLauncher.exe", "1"}, {"LauncherUpdater.exe", "2"}}));
    const QString big = dir.filePath("big.pak");
    const QString tooLarge = "Launcher update package is too large.";
    const auto scan = [&](bool fits, int count) {
        QStringList files;
        QString message;
        QCOMPARE(scanFullPackage(dir.path(), files, message), fits);
        QCOMPARE(files.size(), fits ? count : 0);
        QCOMPARE(message, fits ? QString() : tooLarge);
    };
    for (const qint64 size : {2147483646LL, 2147483647LL}) {
        QVERIFY(testsupport::writeFile(big, {}) && QFile(big).resize(size));  // sparse
        scan(size == 2147483646LL, 3);
    }
    QVERIFY(QFile::remove(big) && QDir(dir.path()).mkdir("many"));
    for (int i = 2; i < 20001; ++i) {
        QVERIFY(testsupport::writeFile(dir.filePath(QString("many/%1").arg(i)), ""));
        if (i >= 19999) {
            scan(i == 19999, 20000);
        }
    }
}

// What a release adds to the inventory rules it shares with the delta plan (tested there).
void TestUpdate::releaseManifestRules() {
    for (const auto& [patch, valid] : {std::pair<QByteArray, bool>{"", true},
                                       {R"({"schemaVersion":2})", false},
                                       {R"({"kind":"game"})", false},
                                       {R"({"version":""})", false}}) {
        QJsonObject release =
            QJsonDocument::fromJson(
                R"({"files":[{"path":"ClientLauncher.exe","sha256":"@Z@","size":1},)"
                R"({"path":"LauncherUpdater.exe","sha256":"@Z@","size":1}],)"
                R"("kind":"launcher-release","schemaVersion":1,"version":"2.0"})")
                .object();
        testsupport::applyPatch(release, patch);
        ReleaseManifest read;
        QCOMPARE(parseReleaseManifest(
                     QJsonDocument(release).toJson().replace("@Z@", QByteArray(64, '0')), read),
                 valid);
        QCOMPARE(read.version, valid ? "2.0" : "");
    }
}

void TestUpdate::outcomes_data() {
    testsupport::addRows<testsupport::UpdateRow>(
        testsupport::updateRows(), false, testsupport::kWindowsBuild,
        [](const testsupport::UpdateRow& r) {
            return QByteArray(r.launcher) == "exit" || QByteArray(r.launcher) == "no-ack";
        });
}

void TestUpdate::outcomes() {
    QFETCH(int, row);
    const testsupport::UpdateRow& r = testsupport::updateRows().at(row);
    QTemporaryDir dir;
    const auto [rootName, ackName] = testsupport::scenarioNames(r.setup);
    const UpdateScenario s(dir.path(), r.delta, rootName, ackName);
    testsupport::RowRequest changes;
    QVERIFY(s.write() && testsupport::prepareUpdate(s, changes, r.setup));
    const FileTree before = installationTree(s.root);
    const FileTree outside = installationTree(s.path("outside"));
    LateSetup files(s, r.setup);
    bool started = false;
    QString got;
    const bool acknowledges = QByteArray(r.launcher) == "exit";
    const bool updated = applyLauncherUpdate(
        requestFor(s, changes), verifier_, files,
        [&](const QString&, const QString&) {
            started = true;
            return acknowledges;
        },
        got);
    QCOMPARE(updated, got.isEmpty());
    QCOMPARE(started, updated || got == kNotStarted);
    testsupport::checkUpdateRun(r, s, before, outside, got);
}

// What a delta's result check makes of each state of a path it removes: gone, or a directory
// that still holds inventory files, pass; anything else fails.
void TestUpdate::removedPathStates() {
    const std::tuple<const char*, const char*, bool> states[] = {
        {"", "gone", true},
        {"write:inst/gone=x", "gone", false},
        {"mkdir:inst/gone", "gone", false},
        {"write:inst/gone/other.txt=x", "gone", false},
        {"", "bin", true},
#ifndef Q_OS_WIN
        {"link:inst/gone=outside/none", "gone", false},
#endif
    };
    for (const auto& [setup, removed, passes] : states) {
        QTemporaryDir dir;
        const UpdateScenario s(dir.path(), true);
        testsupport::RowRequest request;
        QVERIFY(s.write() && QDir(s.root).removeRecursively() &&
                testsupport::writeTree(s.root, s.after(false)) &&
                testsupport::prepareUpdate(s, request, setup));
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
#ifdef Q_OS_WIN
    QSKIP("links cannot be made here");
#endif
    QTemporaryDir dir;
    const UpdateScenario s(dir.path(), false);
    QVERIFY(s.write() && QDir(s.root).rename("bin", "../outside/bin") &&
            QFile::link(s.path("outside/bin"), s.root + "/bin") &&
            testsupport::writeTree(s.path("backup"), {{"core.dll", "saved core"}}));
    const UpdateEntry entry{
        "bin/core.dll", s.root + "/bin/core.dll", s.path("backup/core.dll"), true, true, {}, {}};
    rollBackUpdateEntries({entry}, s.root, systemFileOperations());
    QCOMPARE(testsupport::readFile(s.path("outside/bin/core.dll")), "old core");
    QVERIFY(QFile::exists(s.path("backup/core.dll")));
}

// Every version of the journal of a delta in order, between the flushes that make what it
// describes durable, and the last one whole, with a launcher that acknowledges and one that does
// not; and the same few versions for a full package of 2, 10 and 1000 files.
void TestUpdate::journalVersions() {
    for (const bool acknowledged : {true, false}) {
        QTemporaryDir dir;
        const UpdateScenario s(dir.path(), true);
        QVERIFY(s.write());
        Recording files;
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
        QCOMPARE(message, acknowledged ? QString() : kNotStarted);
        QCOMPARE(QJsonDocument(s.journal()).toJson(QJsonDocument::Compact),
                 acknowledged ? "{}" : files.versions.last());
    }
    for (const int count : {2, 10, 1000}) {
        QTemporaryDir dir;
        FileTree old = {{"ClientLauncher.exe", "old"}, {"LauncherUpdater.exe", "old"}};
        FileTree staged = {{"ClientLauncher.exe", "new"}, {"LauncherUpdater.exe", "new"}};
        for (int i = 2; i < count; ++i) {
            old.insert(QString("d%1/f%2").arg(i / 100).arg(i), "old");
            staged.insert(QString("d%1/f%2").arg(i / 100).arg(i), "new");
        }
        QVERIFY(testsupport::writeTree(dir.filePath("inst"), old) &&
                testsupport::writeTree(dir.filePath("staged"), staged));
        Recording files;
        QString message;
        QVERIFY(applyLauncherUpdate({dir.filePath("inst"), dir.filePath("staged"), "2.0",
                                     dir.filePath("ack"), QString(), QString()},
                                    verifier_, files, kAcknowledge, message));
        QCOMPARE(testsupport::fileTree(dir.filePath("inst")), staged);
        QCOMPARE(files.versions.size(), 4);
    }
}

// Every call of every kind of file operation of a delta fails in turn. Once: the installation
// ends exactly as before (or updated, when the failure did not matter), with the journal phase
// the failure point calls for. From then on, so that the rollback fails too: every original is
// in place or in the backup, and the journal names every path that differs.
void TestUpdate::failureAtEveryStep() {
    const int points = testsupport::sweepFailures([&](testsupport::FaultyFileOperations& files,
                                                      const testsupport::FailurePoint& at) {
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
        } else if (updated) {
            // A directory left empty when its removal failed stays.
            QVERIFY2(testsupport::fileTree(s.root) == s.after(false), at.where);
        } else {
            QVERIFY2(installationTree(s.root) == s.before(), at.where + " " + message.toUtf8());
            // No work directory when the checks (a hash of each staged file and of the kept one)
            // or its creation failed; no journal when it could not be made durable or the first
            // version could not be written.
            const bool noWork = (at.kind == Kind::Hash && at.k <= s.staged.size() + 1) ||
                                (at.kind == Kind::MakeDirectory && at.k == 1);
            const bool noJournal =
                message == "Could not create the launcher update backup directory." ||
                (at.kind == Kind::WriteFile && at.k == 1);
            QVERIFY2(s.workDirectories().isEmpty() == noWork, at.where);
            QVERIFY2(
                s.journal().value("phase").toString() == (noWork || noJournal ? "" : "applying"),
                at.where + " " + message.toUtf8());
            // A path that failed is the last the journal names, as it would be had the journal
            // been written before each path.
            const QRegularExpressionMatch failed =
                QRegularExpression(
                    "^Could not (back up|install) (.*?)( \\(Windows error \\d+\\))?\\.$")
                    .match(message);
            if (failed.hasMatch()) {
                const QJsonArray listed = s.journal().value("files").toArray();
                QVERIFY2(listed.size() ==
                                 (s.removed + s.staged.keys()).indexOf(failed.captured(2)) + 1 &&
                             listed.last()["path"] == failed.captured(2),
                         at.where + " " + message.toUtf8());
            }
        }
    });
    qInfo("%d failure points", points);
}

// A file another process holds for a moment (a scanner on Windows): the call is tried again
// after short pauses and the update goes on, the rollback after a failed start too; held for
// good, or failing with an error no scanner causes, the update fails as it would at once, and
// says why. `k` 0: the first rename of the rollback.
void TestUpdate::transientErrorsAreRetried_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("k");
    QTest::addColumn<int>("times");
    QTest::addColumn<uint>("error");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("paused");
    auto row = [](const char* name, Kind kind, int k, int times, uint error, const char* message,
                  int paused) {
        QTest::newRow(name) << int(kind) << k << times << error << message << paused;
    };
    const int budget = RetryingFileOperations::kPauseBudgetMs;
    row("backup held briefly", Kind::Rename, 1, 3, 32, "", 10 + 20 + 40);
    row("copy locked briefly", Kind::Copy, 2, 2, 33, "", 10 + 20);
    row("journal mapped briefly", Kind::WriteFile, 1, 1, 1224, "", 10);
    row("pending deletion, briefly", Kind::Remove, 1, 1, 5, "", 10);
    row("rollback held briefly", Kind::Rename, 0, 4, 32, "rolled back", 10 + 20 + 40 + 80);
    row("backup held for good", Kind::Rename, 1, INT_MAX, 32,
        "Could not back up old/x.dll (Windows error 32).", budget);
    row("backup refused for another reason", Kind::Rename, 1, 1, 87,
        "Could not back up old/x.dll (Windows error 87).", 0);
}

void TestUpdate::transientErrorsAreRetried() {
    QFETCH(int, kind);
    QFETCH(int, k);
    QFETCH(int, times);
    QFETCH(uint, error);
    QFETCH(QString, message);
    QFETCH(int, paused);
    QTemporaryDir dir;
    const UpdateScenario s(dir.path(), true);
    QVERIFY(s.write());
    const bool rollBack = message == "rolled back";
    testsupport::FaultyFileOperations faulty;
    // Rolling back: every rename up to the start, counted; the next is the rollback's first.
    const LauncherStart fails = [&](const QString&, const QString&) {
        faulty.failTimes(Kind::Rename, faulty.count(Kind::Rename) + 1, times, error);
        return false;
    };
    if (!rollBack) {
        faulty.failTimes(Kind(kind), k, times, error);
    }
    RetryingFileOperations files(faulty, true, [&](int ms) { paused -= ms; });
    QString failure;
    QCOMPARE(applyLauncherUpdate(requestFor(s), verifier_, files, rollBack ? fails : kAcknowledge,
                                 failure),
             message.isEmpty());
    QCOMPARE(failure, rollBack ? kNotStarted : message);
    QCOMPARE(installationTree(s.root), message.isEmpty() ? s.after() : s.before());
    QCOMPARE(paused, 0);
}

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
