// The launcher update in process: the delta plan's, the signed release's and the packages' rules,
// one row each with its exact message; the journal's versions byte for byte; and every file
// operation of an update failing in turn.
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include "delta_plan.h"
#include "faulty_file_operations.h"
#include "file_fixtures.h"
#include "launcher_update.h"
#include "package_checks.h"
#include "release_manifest.h"
#include "retrying_file_operations.h"
#include "signature_verifier.h"
#include "signing_fixtures.h"
#include "update_scenario.h"

using testsupport::FileTree;
using Kind = FileOperations::Kind;

namespace {

using testsupport::UpdateScenario;

const QString kNoBackupDirectory = "Could not create the launcher update backup directory.";
const QString kUnsafeLink = "Launcher installation contains an unsafe symbolic link.";
const QString kNotSigned = "An elevated launcher update needs a signed release manifest.";
const QString kNotAsSigned = "Launcher package does not match its signed release manifest.";

// Stages the release of the scenario's new launcher, signed by the trusted test key, for a
// "release:VARIANT" step: "3.0" another version's, "extra" listing a file more, "game" a game
// manifest of the same files, "untrusted" signed by another key under the test key's id,
// "unknown-key" under an id nobody trusts.
bool stageRelease(const UpdateScenario& s, const QString& variant) {
    QJsonArray files = s.releaseFiles();
    if (variant == "extra") {
        files.append(QJsonObject{{"path", "extra.dll"}, {"size", 0}, {"sha256", QString(64, 'e')}});
    }
    QJsonObject release{{"files", files},
                        {"kind", "launcher-release"},
                        {"schemaVersion", 1},
                        {"version", variant == "3.0" ? "3.0" : "2.0"}};
    if (variant == "game") {
        release = {{"schemaVersion", 1},  {"manifestId", "m"}, {"gameId", "g"},
                   {"channel", "stable"}, {"generation", 1},   {"files", files}};
    }
    return testsupport::writeFile(
        s.staging + '/' + kReleaseEnvelopeName,
        testsupport::signEnvelope(
            QJsonDocument(release).toJson(QJsonDocument::Compact),
            variant == "unknown-key" ? QJsonObject{{"keyId", "someone-else"}} : QJsonObject(),
            variant == "untrusted" ? testsupport::untrustedSigningKey()
                                   : testsupport::testSigningKey()));
}

UpdateRequest requestFor(const UpdateScenario& s) {
    return {s.root,
            s.staging,
            "2.0",
            s.ack,
            s.delta ? s.planPath() : QString(),
            s.delta ? "1.0" : QString()};
}

// The setup steps of a row, "verb:argument" separated by '|'. A step that begins with "sized "
// runs when the first file size is taken (while the package is checked), one that begins with
// "late " once the checks have passed, just before the first original moves; `phase` says which.
bool prepare(const UpdateScenario& s, UpdateRequest& request, const QString& setup,
             const QString& phase = QString()) {
    for (QString step : setup.split('|', Qt::SkipEmptyParts)) {
        const QString prefix = step.startsWith("late ")    ? "late"
                               : step.startsWith("sized ") ? "sized"
                                                           : QString();
        if (prefix != phase) {
            continue;
        }
        step.remove(0, prefix.isEmpty() ? 0 : prefix.size() + 1);
        const QString verb = step.section(':', 0, 0);
        const QString a = s.path(step.section(':', 1).section('=', 0, 0));
        const QString b = step.section('=', 1);
        bool ok = true;
        if (verb == "write") {
            ok = QDir().mkpath(QFileInfo(a).path()) && testsupport::writeFile(a, b.toUtf8());
        } else if (verb == "remove") {
            ok = QFile::remove(a) || QDir(a).removeRecursively();
        } else if (verb == "rename") {
            ok = QDir().mkpath(QFileInfo(s.path(b)).path()) && QFile::rename(a, s.path(b));
        } else if (verb == "mkdir") {
            ok = QDir().mkpath(a);
        } else if (verb == "link") {
            ok = QFile::link(s.path(b), a);
        } else if (verb == "elevated") {
            request.elevated = true;
        } else if (verb == "release") {
            ok = stageRelease(s, step.section(':', 1));
        } else if (verb == "staged-root") {
            request.stagedRoot = a;
        } else if (verb == "plan") {
            request.deltaPlanPath = a;
            ok = QFile::exists(a) || QFile::copy(s.planPath(), a);
        }
        if (!ok) {
            qWarning() << "setup step failed" << step;
            return false;
        }
    }
    return true;
}

// Runs the "sized" setup steps at the first size taken, the "late" ones before the first rename.
class LateSetup : public FileOperationsWrapper {
public:
    LateSetup(const UpdateScenario& s, UpdateRequest& request, const QString& setup)
        : FileOperationsWrapper(systemFileOperations()), s_(s), request_(request), setup_(setup) {}
    qint64 regularFileSize(const QString& path) override {
        sized_ = sized_ || prepare(s_, request_, setup_, "sized");
        return FileOperationsWrapper::regularFileSize(path);
    }
    bool rename(const QString& from, const QString& to) override {
        late_ = late_ || prepare(s_, request_, setup_, "late");
        return FileOperationsWrapper::rename(from, to);
    }

private:
    const UpdateScenario& s_;
    UpdateRequest& request_;
    QString setup_;
    bool sized_ = false;
    bool late_ = false;
};

}  // namespace

class TestUpdate : public QObject {
    Q_OBJECT

    // Trusts the test key, compiled in as the updater's own.
    const SignatureVerifier verifier_{false};

private slots:
    void deltaPlanRules_data();
    void deltaPlanRules();
    void fullPackageLimits();
    void releaseManifestRules_data();
    void releaseManifestRules();
    void outcomes_data();
    void outcomes();
    void removedPathStates();
    void rollbackLeavesLinkedDirectoriesAlone();
    void journalVersions();
    void journalVersionsDoNotGrowWithTheFiles();
    void failureAtEveryStep();
    void transientErrorsAreRetried_data();
    void transientErrorsAreRetried();
};

void TestUpdate::deltaPlanRules_data() {
    QTest::addColumn<QByteArray>("patch");
    QTest::addColumn<QString>("setup");  // pad:N, files:N, bytes:TEXT, none
    QTest::addColumn<QString>("message");
    auto row = [](const char* name, const char* patch, const char* setup, const char* message) {
        QTest::newRow(name) << QByteArray(patch) << setup << message;
    };
    // An inventory of both executables (the first of size N) and `more`.
    auto inventory = [](const char* size, const char* more = "") {
        return R"({"files":[{"path":"ClientLauncher.exe","size":)" + QByteArray(size) +
               R"(,"sha256":"@Z@"},{"path":"LauncherUpdater.exe","size":1,"sha256":"@Z@"})" + more +
               "]}";
    };
    auto inventoryRow = [&](const char* name, const char* size, const char* more,
                            const char* message) {
        QTest::newRow(name) << inventory(size, more) << "" << message;
    };
    row("valid", "", "", "");
    row("schema version 1.0", R"({"schemaVersion":1.0})", "", "");
    row("replaced in other case", R"({"replace":["CLIENTLAUNCHER.EXE","launcherupdater.exe"]})", "",
        "");
    row("remove empty", R"({"remove":[]})", "", "");
    row("remove names a directory of inventory files", R"({"remove":["lib"]})", "", "");
    inventoryRow("sizes total 2147483648", "2147483647", "", "");
    row("plan of 4194304 bytes", "", "pad:4194304", "");
    row("20000 files", "", "files:20000", "");

    const char* missing = "Launcher delta plan is missing or too large.";
    row("plan of 4194305 bytes", "", "pad:4194305", missing);
    row("plan empty", "", "bytes:", missing);
    row("plan missing", "", "none", missing);
    row("plan not JSON", "", "bytes:{", "Launcher delta plan is invalid JSON.");
    row("plan an array", "", "bytes:[]", "Launcher delta plan is invalid JSON.");
    const char* fields = "Launcher delta plan fields are invalid.";
    row("schema version a string", R"({"schemaVersion":"1"})", "", fields);
    row("schema version 2", R"({"schemaVersion":2})", "", fields);
    row("from version in other case", R"({"fromVersion":"V1.0"})", "", fields);
    row("to version differs", R"({"toVersion":"v2.1"})", "", fields);
    row("remove missing", R"({"remove":null})", "", fields);
    row("files empty", R"({"files":[]})", "", fields);
    row("replace empty", R"({"replace":[]})", "", fields);
    row("20001 files", "", "files:20001", fields);
    const char* invalid = "Launcher delta target inventory is invalid.";
    row("file entry not an object", R"({"files":[5]})", "", invalid);
    inventoryRow("size -1", "-1", "", invalid);
    inventoryRow("size 1.5", "1.5", "", invalid);
    inventoryRow("size 2147483649", "2147483649", "", invalid);
    inventoryRow("sizes total 2147483649", "2147483648", "", invalid);
    inventoryRow(
        "digest upper case", "1",
        R"(,{"path":"x","size":1,"sha256":"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"})",
        invalid);
    inventoryRow(
        "paths equal after folding", "1",
        R"(,{"path":"Bin/A.dll","size":1,"sha256":"@Z@"},{"path":"bin/a.dll","size":1,"sha256":"@Z@"})",
        invalid);
    inventoryRow("digest followed by a line break", "1",
                 R"(,{"path":"x","size":1,"sha256":"@Z@\n"})", invalid);
    inventoryRow("path unsafe", "1", R"(,{"path":"../x","size":1,"sha256":"@Z@"})", invalid);
    const char* replace = "Launcher delta replacement list is invalid.";
    row("replaced path not in the inventory",
        R"({"replace":["ClientLauncher.exe","LauncherUpdater.exe","nope.dll"]})", "", replace);
    row("replaced twice after folding",
        R"({"replace":["ClientLauncher.exe","LauncherUpdater.exe","CLIENTLAUNCHER.EXE"]})", "",
        replace);
    row("replace entry a number", R"({"replace":["ClientLauncher.exe","LauncherUpdater.exe",5]})",
        "", replace);
    row("replace entry unsafe", R"({"replace":["ClientLauncher.exe","./LauncherUpdater.exe"]})", "",
        replace);
    row("launcher only in a subdirectory",
        R"({"files":[{"path":"bin/ClientLauncher.exe","size":1,"sha256":"@Z@"},)"
        R"({"path":"LauncherUpdater.exe","size":1,"sha256":"@Z@"}],)"
        R"("replace":["bin/ClientLauncher.exe","LauncherUpdater.exe"]})",
        "", "Launcher delta does not replace both launcher executables.");
    row("updater not replaced", R"({"replace":["ClientLauncher.exe"]})", "",
        "Launcher delta does not replace both launcher executables.");
    const char* remove = "Launcher delta removal list is invalid.";
    row("removed path in the inventory, other case", R"({"remove":["LIB/A.DLL"]})", "", remove);
    row("removed twice after folding", R"({"remove":["x.dll","X.DLL"]})", "", remove);
    row("remove entry unsafe", R"({"remove":["con.txt"]})", "", remove);
}

void TestUpdate::deltaPlanRules() {
    QFETCH(QByteArray, patch);
    QFETCH(QString, setup);
    QFETCH(QString, message);
    const QByteArray zero(64, '0');
    QJsonObject plan =
        QJsonDocument::fromJson(R"({"schemaVersion":1,"fromVersion":"v1.0","toVersion":"v2.0",)"
                                R"("files":[{"path":"ClientLauncher.exe","size":1,"sha256":"@Z@"},)"
                                R"({"path":"LauncherUpdater.exe","size":1,"sha256":"@Z@"},)"
                                R"({"path":"lib/a.dll","size":0,"sha256":"@Z@"}],)"
                                R"("replace":["ClientLauncher.exe","LauncherUpdater.exe"],)"
                                R"("remove":["old.dll"]})" +
                                QByteArray())
            .object();
    testsupport::applyPatch(plan, patch);
    const QString verb = setup.section(':', 0, 0);
    const int n = setup.section(':', 1).toInt();
    if (verb == "files") {
        QJsonArray files = plan.value("files").toArray();
        while (files.size() < n) {
            files.append(QJsonObject{
                {"path", QString("f%1").arg(files.size())}, {"size", 0}, {"sha256", "@Z@"}});
        }
        plan.insert("files", files);
    }
    QByteArray bytes = QJsonDocument(plan).toJson(QJsonDocument::Compact).replace("@Z@", zero);
    if (verb == "pad") {
        bytes.append(QByteArray(n - bytes.size(), ' '));
    } else if (verb == "bytes") {
        bytes = setup.section(':', 1).toUtf8();
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("launcher-update-plan.json");
    QVERIFY(verb == "none" || testsupport::writeFile(path, bytes));
    DeltaPlan loaded;
    loaded.toVersion = "unchanged";
    QString got;
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
    QFile big(dir.filePath("big.pak"));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(2147483646));  // sparse
    big.close();
    const QString tooLarge = "Launcher update package is too large.";
    for (const qint64 size : {2147483646LL, 2147483647LL}) {
        QVERIFY(QFile(big.fileName()).resize(size));
        QStringList files;
        QString message;
        QCOMPARE(scanFullPackage(dir.path(), files, message), size == 2147483646LL);
        QCOMPARE(message, size == 2147483646LL ? QString() : tooLarge);
    }
    QVERIFY(QFile::remove(big.fileName()) && QDir(dir.path()).mkdir("many"));
    for (int i = 2; i < 20001; ++i) {
        QVERIFY(testsupport::writeFile(dir.filePath(QString("many/%1").arg(i)), ""));
        if (i == 19999 || i == 20000) {
            QStringList files;
            QString message;
            QCOMPARE(scanFullPackage(dir.path(), files, message), i == 19999);
            QCOMPARE(files.size(), i == 19999 ? 20000 : 0);
            QCOMPARE(message, i == 19999 ? QString() : tooLarge);
        }
    }
}

// What a release adds to the inventory rules it shares with the delta plan (tested there).
void TestUpdate::releaseManifestRules_data() {
    QTest::addColumn<QByteArray>("patch");
    QTest::addColumn<bool>("valid");
    const auto files = [](const char* first, const char* second) {
        const QByteArray file = R"({"path":"%1","sha256":"@Z@","size":1})";
        return R"({"files":[)" + QByteArray(file).replace("%1", first) + ',' +
               QByteArray(file).replace("%1", second) + "]}";
    };
    QTest::newRow("valid") << QByteArray() << true;
    QTest::newRow("schema version 2") << QByteArray(R"({"schemaVersion":2})") << false;
    QTest::newRow("no kind") << QByteArray(R"({"kind":null})") << false;
    QTest::newRow("kind of another document") << QByteArray(R"({"kind":"game"})") << false;
    QTest::newRow("version empty") << QByteArray(R"({"version":""})") << false;
    QTest::newRow("files empty") << QByteArray(R"({"files":[]})") << false;
    QTest::newRow("updater missing") << files("ClientLauncher.exe", "a.dll") << false;
    QTest::newRow("launcher in lower case")
        << files("clientlauncher.exe", "LauncherUpdater.exe") << false;
}

void TestUpdate::releaseManifestRules() {
    QFETCH(QByteArray, patch);
    QFETCH(bool, valid);
    QJsonObject release = QJsonDocument::fromJson(
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

// Runs that end before the first change or undo what they did and never start the launcher, and,
// without a message, runs that install the new launcher. `journaled`: how many paths the journal
// left behind lists (-1: no work directory at all; -2: not counted).
void TestUpdate::outcomes_data() {
    QTest::addColumn<bool>("delta");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("journaled");
    auto row = [](const char* name, bool delta, const char* setup, const QString& message,
                  int journaled = -1) {
        QTest::newRow(name) << delta << setup << message << journaled;
    };
    row("staged root missing", false, "staged-root:none", "Launcher update paths are invalid.");
    row("staged root is the installation", false, "staged-root:inst",
        "Launcher update staging must be separate from the installation.");
#ifdef Q_OS_WIN
    // Names that differ only in letter case are one file there.
    row("staged root is the installation in other letter case", false, "staged-root:INST",
        "Launcher update staging must be separate from the installation.");
    row("delta plan named in other letter case", true, "plan:staged/LAUNCHER-UPDATE-PLAN.JSON", "");
#endif
    row("launcher only in a subdirectory", false,
        "rename:staged/ClientLauncher.exe=staged/bin/ClientLauncher.exe",
        "Launcher update package is incomplete.");
    // Left by an update that died: taken away before the copy, or every later update fails.
    row("a stale copy beside a launcher file", true, "write:inst/bin/core.dll.tavorin-new=stale",
        "");
    row("delta plan outside the staging", true, "plan:plan.json",
        "Launcher delta plan must be the staged launcher-update-plan.json.");
    row("delta stages a file it does not replace", true, "write:staged/extra.dll=x",
        "Launcher delta staging contains an unexpected file.");
    row("delta plan file in a subdirectory", true, "write:staged/bin/launcher-update-plan.json=x",
        "Launcher delta staging contains an unexpected file.");
    row("delta replaced file not staged", true, "remove:staged/bin/core.dll",
        "Launcher delta staging is incomplete.");
    row("delta staged file of other bytes", true, "write:staged/bin/core.dll=NEW core, longer",
        "Update file does not match its declared hash: bin/core.dll");
    row("delta kept file missing", true, "remove:inst/keep.dat",
        "Update file does not match its declared size: keep.dat");
    // Delta copies are hashed as they go in, whatever the run's rights.
    row("delta file of other bytes swapped in after the checks", true,
        "late write:staged/bin/core.dll=NEW core, longer", "Could not install bin/core.dll.", 6);
    // Only the result check reads a kept file again.
    row("delta kept file changed after the checks", true, "late write:inst/keep.dat=KEPT",
        "Update file does not match its declared hash: keep.dat", -2);
    row("signed full package, elevated", false, "elevated|release:2.0", "");
    row("signed delta, elevated", true, "elevated|release:2.0", "");
    row("elevated without a signed release", false, "elevated", kNotSigned);
    // Found, a release is checked whatever the run's rights.
    row("release signed by another key", false, "release:untrusted",
        "Signed envelope signature is invalid.");
    row("release signed by an unknown key", true, "elevated|release:unknown-key",
        "Signed envelope uses an unknown key: someone-else");
    row("game manifest offered as a release", false, "elevated|release:game",
        "Launcher release manifest is invalid.");
    row("release of another version", true, "elevated|release:3.0",
        "Launcher release manifest is for another version.");
    row("full package with a file more", false, "elevated|release:2.0|write:staged/extra.dll=x",
        kNotAsSigned);
    row("full package with a file less", false, "elevated|release:extra", kNotAsSigned);
    row("full package file of another size", false,
        "elevated|release:2.0|write:staged/bin/core.dll=x", kNotAsSigned);
    row("delta inventory other than the release", true, "elevated|release:extra", kNotAsSigned);
    // Gone while its size is taken, back before it is installed: not listed, so never installed.
    row("unlisted file away while measured", false,
        "elevated|release:extra|write:staged/version.dll=v|sized remove:staged/version.dll|"
        "late write:staged/version.dll=v",
        kNotAsSigned);
    row("signed file of other bytes swapped in after the checks", false,
        "elevated|release:2.0|late write:staged/bin/core.dll=NEW core, longer",
        "Could not install bin/core.dll.", -2);
#ifndef Q_OS_WIN
    // Links, and names that differ only in case: Linux only (Wine shows no links, and looks
    // names up without regard to case).
    row("launcher in lower case", false,
        "rename:staged/ClientLauncher.exe=staged/clientlauncher.exe",
        "Launcher update package is incomplete.");
    row("delta staging holds two names equal after folding", true,
        "write:staged/BIN/core.dll=new core, longer",
        "Launcher delta staging contains an unexpected file.");
    row("link in the package", false, "write:outside/f=x|link:staged/bin/f=outside/f",
        "Launcher update package contains an unsafe path.");
    row("dangling link in the package", false, "link:staged/d=outside/none",
        "Launcher update package contains an unsafe path.");
    row("dangling link in the delta staging", true, "link:staged/d=outside/none",
        "Launcher delta staging contains an unsafe path.");
    row("staged root a link", false, "rename:staged=real|link:staged=real",
        "Launcher update package contains an unsafe path.");
    row("installation root a link", false, "rename:inst=real|link:inst=real", kUnsafeLink);
    row("a stale copy a link to a directory outside", true,
        "write:outside/dir/f=x|link:inst/bin/core.dll.tavorin-new=outside/dir", "");
    row("work directory's parent a link", false,
        "mkdir:outside/w|link:inst/.tavorin-update=outside/w", kUnsafeLink);
    // The eighth path of the delta: the seven before it are undone, and no journal follows.
    row("link on the way to the eighth path", true, "mkdir:outside/new|link:inst/new=outside/new",
        kUnsafeLink, 7);
    row("signed release reached through a linked staging", false,
        "elevated|release:2.0|rename:staged=real|link:staged=real",
        "Signed envelope is empty or exceeds its size limit.");
    row("staged file swapped for a link after the checks", false,
        "write:outside/secret=s|late remove:staged/bin/core.dll|"
        "late link:staged/bin/core.dll=outside/secret",
        "Could not install bin/core.dll.", -2);
#endif
}

void TestUpdate::outcomes() {
    QFETCH(bool, delta);
    QFETCH(QString, setup);
    QFETCH(QString, message);
    QFETCH(int, journaled);
    QTemporaryDir dir;
    const UpdateScenario s(dir.path(), delta);
    UpdateRequest request = requestFor(s);
    QVERIFY(s.write() && prepare(s, request, setup));
    const FileTree before = testsupport::installationTree(s.root);
    const FileTree outside = testsupport::installationTree(s.path("outside"));
    LateSetup files(s, request, setup);
    bool started = false;
    QString got;
    const bool updated = applyLauncherUpdate(
        request, verifier_, files, [&](const QString&, const QString&) { return started = true; },
        got);
    QCOMPARE(got, message);
    QCOMPARE(updated, message.isEmpty());
    QCOMPARE(started, updated);
    FileTree expected = updated ? s.after() : before;
    // What a row changes in the installation behind the update's back stays changed.
    for (const QString& step : setup.split('|')) {
        if (step.startsWith("late write:inst/")) {
            expected.insert(step.section('=', 0, 0).mid(16), step.section('=', 1).toUtf8());
        }
    }
    QCOMPARE(testsupport::installationTree(s.root), expected);
    QCOMPARE(testsupport::installationTree(s.path("outside")), outside);
    if (journaled == -1) {
        QCOMPARE(s.workDirectories(), QStringList());
    } else if (journaled >= 0) {
        QCOMPARE(s.journal().value("phase").toString(), "applying");
        QCOMPARE(s.journal().value("files").toArray().size(), journaled);
    }
}

// What a delta's result check makes of each state of a path it removes: gone, or a directory
// that still holds inventory files, pass; anything else fails.
void TestUpdate::removedPathStates() {
    struct State {
        const char* setup;
        const char* removed;
        bool passes;
    };
    const State states[] = {{"", "gone", true},
                            {"write:inst/gone=x", "gone", false},
                            {"mkdir:inst/gone", "gone", false},
                            {"write:inst/gone/other.txt=x", "gone", false},
                            {"", "bin", true},
#ifndef Q_OS_WIN
                            {"link:inst/gone=outside/none", "gone", false}
#endif
    };
    for (const State& state : states) {
        QTemporaryDir dir;
        const UpdateScenario s(dir.path(), true);
        UpdateRequest request = requestFor(s);
        QVERIFY(s.write() && QDir(s.root).removeRecursively() &&
                testsupport::writeTree(s.root, s.after(false)) && prepare(s, request, state.setup));
        DeltaPlan plan;
        QString message;
        QVERIFY(loadDeltaPlan(s.planPath(), "1.0", "2.0", systemFileOperations(), plan, message));
        plan.remove = QStringList{state.removed};
        QCOMPARE(verifyDeltaResult(s.root, plan, systemFileOperations(), message), state.passes);
        QCOMPARE(message, state.passes
                              ? QString()
                              : QString("Launcher delta did not remove an obsolete file."));
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
// describes durable, and the last one whole; then the same with a launcher that does not
// acknowledge.
void TestUpdate::journalVersions() {
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
                return acknowledged && testsupport::installationTree(s.root) == s.after();
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
        QCOMPARE(testsupport::installationTree(s.root), acknowledged ? s.after() : s.before());
        QCOMPARE(s.workDirectories().size(), acknowledged ? 0 : 1);
        if (!acknowledged) {
            QCOMPARE(message, "The updated launcher did not start successfully.");
            QCOMPARE(QJsonDocument(s.journal()).toJson(QJsonDocument::Compact),
                     files.versions.last());
        }
    }
}

// The journal costs the same few versions whatever the number of files: a full package of 2, 10
// and 1000 files.
void TestUpdate::journalVersionsDoNotGrowWithTheFiles() {
    class Counting : public FileOperationsWrapper {
    public:
        Counting() : FileOperationsWrapper(systemFileOperations()) {}
        bool writeFile(const QString& path, const QByteArray& data) override {
            journalVersions += path.endsWith("/journal.json");
            return FileOperationsWrapper::writeFile(path, data);
        }
        int journalVersions = 0;
    };
    for (const int files : {2, 10, 1000}) {
        QTemporaryDir dir;
        FileTree old = {{"ClientLauncher.exe", "old"}, {"LauncherUpdater.exe", "old"}};
        FileTree staged = {{"ClientLauncher.exe", "new"}, {"LauncherUpdater.exe", "new"}};
        for (int i = 2; i < files; ++i) {
            old.insert(QString("d%1/f%2").arg(i / 100).arg(i), "old");
            staged.insert(QString("d%1/f%2").arg(i / 100).arg(i), "new");
        }
        QVERIFY(testsupport::writeTree(dir.filePath("inst"), old) &&
                testsupport::writeTree(dir.filePath("staged"), staged));
        Counting counting;
        QString message;
        QVERIFY(applyLauncherUpdate(
            {dir.filePath("inst"), dir.filePath("staged"), "2.0", dir.filePath("ack"), QString(),
             QString()},
            verifier_, counting, [](const QString&, const QString&) { return true; }, message));
        QCOMPARE(testsupport::fileTree(dir.filePath("inst")), staged);
        QCOMPARE(counting.journalVersions, 4);
    }
}

// Every call of every kind of file operation of a delta fails in turn. Once: the installation
// ends exactly as before (or updated, when the failure did not matter), with the journal phase
// the failure point calls for. From then on, so that the rollback fails too: every original is
// in place or in the backup, and the journal names every path that differs.
void TestUpdate::failureAtEveryStep() {
    const LauncherStart acknowledge = [](const QString&, const QString&) { return true; };
    int scenarios = 0;
    for (int kindIndex = 0; kindIndex < FileOperations::kKindCount; ++kindIndex) {
        const Kind kind = static_cast<Kind>(kindIndex);
        int calls = 0;
        {
            QTemporaryDir dir;
            const UpdateScenario s(dir.path(), true);
            testsupport::FaultyFileOperations counting;
            QString message;
            QVERIFY(s.write() &&
                    applyLauncherUpdate(requestFor(s), verifier_, counting, acknowledge, message));
            calls = counting.count(kind);
        }
        for (int k = 1; k <= calls; ++k) {
            for (const bool persistent : {false, true}) {
                const QByteArray where = QByteArray::number(kindIndex) + "/" +
                                         QByteArray::number(k) + (persistent ? " on" : " once");
                QTemporaryDir dir;
                const UpdateScenario s(dir.path(), true);
                QVERIFY(s.write());
                testsupport::FaultyFileOperations faulty;
                faulty.failAt(kind, k, persistent);
                QString message;
                const bool updated =
                    applyLauncherUpdate(requestFor(s), verifier_, faulty, acknowledge, message);
                QVERIFY2(faulty.failed() && updated == message.isEmpty(), where);
                if (persistent && !updated) {
                    QVERIFY2(s.inconsistency().isEmpty(), where + " " + s.inconsistency().toUtf8());
                } else if (updated) {
                    // A directory left empty when its removal failed stays.
                    QVERIFY2(testsupport::fileTree(s.root) == s.after(false), where);
                } else {
                    QVERIFY2(testsupport::installationTree(s.root) == s.before(),
                             where + " " + message.toUtf8());
                    // No work directory when the checks (a hash of each staged file and of the
                    // kept one) or its creation failed; no journal when it could not be made
                    // durable or the first version could not be written.
                    const bool noWork = (kind == Kind::Hash && k <= s.staged.size() + 1) ||
                                        (kind == Kind::MakeDirectory && k == 1);
                    const bool noJournal =
                        message == kNoBackupDirectory || (kind == Kind::WriteFile && k == 1);
                    QVERIFY2(s.workDirectories().isEmpty() == noWork, where);
                    QVERIFY2(s.journal().value("phase").toString() ==
                                 (noWork || noJournal ? "" : "applying"),
                             where + " " + message.toUtf8());
                    // A path that failed is the last the journal names, as it would be had the
                    // journal been written before each path.
                    const QRegularExpressionMatch failed =
                        QRegularExpression(
                            "^Could not (back up|install) (.*?)( \\(Windows error \\d+\\))?\\.$")
                            .match(message);
                    if (failed.hasMatch()) {
                        const QStringList order = s.removed + s.staged.keys();
                        const QJsonArray listed = s.journal().value("files").toArray();
                        QVERIFY2(listed.size() == order.indexOf(failed.captured(2)) + 1 &&
                                     listed.last()["path"] == failed.captured(2),
                                 where + " " + message.toUtf8());
                    }
                }
                if (QTest::currentTestFailed()) {
                    return;
                }
                ++scenarios;
            }
        }
    }
    qInfo("%d failure points", scenarios);
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
    if (rollBack) {
        // Every rename up to the start, counted; the next is the rollback's first.
        const LauncherStart fails = [&](const QString&, const QString&) {
            faulty.failTimes(Kind::Rename, faulty.count(Kind::Rename) + 1, times, error);
            return false;
        };
        RetryingFileOperations files(faulty, true, [&](int ms) { paused -= ms; });
        QString failure;
        QVERIFY(!applyLauncherUpdate(requestFor(s), verifier_, files, fails, failure));
        QCOMPARE(failure, QString("The updated launcher did not start successfully."));
        QCOMPARE(testsupport::installationTree(s.root), s.before());
        QCOMPARE(paused, 0);
        return;
    }
    faulty.failTimes(Kind(kind), k, times, error);
    RetryingFileOperations files(faulty, true, [&](int ms) { paused -= ms; });
    const LauncherStart acknowledge = [](const QString&, const QString&) { return true; };
    QString failure;
    QCOMPARE(applyLauncherUpdate(requestFor(s), verifier_, files, acknowledge, failure),
             message.isEmpty());
    QCOMPARE(failure, message);
    QCOMPARE(testsupport::installationTree(s.root), message.isEmpty() ? s.after() : s.before());
    QCOMPARE(paused, 0);
}

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
