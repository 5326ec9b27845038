#include "job_rows.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include "file_fixtures.h"
#include "signing_fixtures.h"

namespace testsupport {

namespace {

const char* const kMetadata = "The game repair plan contains invalid metadata.";
const char* const kOutside = "The repair plan references a file outside the signed manifest.";
const char* const kMismatch = "The signed game manifest does not match the repair plan.";
const char* const kSignedSize = "A staged repair file does not match its signed size.";
const char* const kUnsafeJournal = "An interrupted game repair journal contains an unsafe path.";
const char* const kUnreadJournal = "An interrupted game repair journal could not be read safely.";
const char* const kRepairLink = "The game installation contains an unsafe symbolic link.";
const char* const kPlanPath = "The game repair plan path is invalid.";

const char* const kUnsafeLink = "Launcher installation contains an unsafe symbolic link.";
const char* const kNotAsSigned = "Launcher package does not match its signed release manifest.";
const char* const kUnexpected = "Launcher delta staging contains an unexpected file.";
const char* const kIncomplete = "Launcher update package is incomplete.";
const char* const kUnsafePackage = "Launcher update package contains an unsafe path.";
const char* const kNotInstalled = "Could not install bin/core.dll.";
const char* const kSeparate = "Launcher update staging must be separate from the installation.";
const char* const kNotStarted = "The updated launcher did not start successfully.";
const char* const kInvalidRelease = "Launcher release manifest is invalid.";

// A plan of `count` files; 20000 get past the plan to the manifest, which lists the scenario's
// only.
const char* listing(int count) {
    static QByteArray texts[2];
    QByteArray& text = texts[count - 20000];
    if (text.isEmpty()) {
        text = R"({"files":["f0")";
        for (int i = 1; i < count; ++i) {
            text += ",\"f" + QByteArray::number(i) + '"';
        }
        text += "]}";
    }
    return text.constData();
}

// Stages the release of the scenario's new launcher for a "release:VARIANT" step: "extra"
// listing a file more, "untrusted" signed by another key under the test key's id, or a JSON
// patch of the release.
bool stageRelease(const UpdateScenario& s, const QString& variant) {
    QJsonArray files = s.releaseFiles();
    if (variant == "extra") {
        files.append(QJsonObject{{"path", "extra.dll"}, {"size", 0}, {"sha256", QString(64, 'e')}});
    }
    QJsonObject release{
        {"files", files}, {"kind", "launcher-release"}, {"schemaVersion", 1}, {"version", "2.0"}};
    applyPatch(release, variant.toUtf8());
    return writeFile(
        s.staging + "/launcher-release.envelope.json",
        signEnvelope(QJsonDocument(release).toJson(QJsonDocument::Compact), {},
                     variant == "untrusted" ? untrustedSigningKey() : testSigningKey()));
}

// A step on the scenario's files, "verb:A=B": write (the text B to A), remove, mkdir, move (A to
// B), link (A pointing at B); paths relative to the scratch directory.
template <typename Scenario>
bool fileStep(const Scenario& s, const QString& step) {
    const QString verb = step.section(':', 0, 0);
    const QString a = s.path(step.section(':', 1).section('=', 0, 0));
    const QString b = step.section('=', 1);
    if (verb == "write") {
        return QDir().mkpath(QFileInfo(a).path()) && writeFile(a, b.toUtf8());
    }
    if (verb == "move") {
        return QDir().mkpath(QFileInfo(s.path(b)).path()) && QFile::rename(a, s.path(b));
    }
    return (verb == "remove" && (QFile::remove(a) || QDir(a).removeRecursively())) ||
           (verb == "mkdir" && QDir().mkpath(a)) || (verb == "link" && QFile::link(s.path(b), a));
}

bool failed(const QString& step) {
    qWarning() << "setup step failed" << step;
    return false;
}

}  // namespace

const QList<RepairRow>& repairRows() {
    // clang-format off
    static const QList<RepairRow> rows = {
        {"repaired", "", "", "", 0, ""},
        {"plan path relative", "", "", "relative", 21, kPlanPath},
        {"root below a file", R"({"installationRoot":"@DIR@/inst/keep.txt/game"})", "", "", 21,
         kMetadata},
        {"no files directory", "", "", "remove:staging/files", 21, kMetadata},
        {"generation 0", R"({"generation":0})", R"({"generation":0})", "", 21, kMetadata},
        {"plan of 20000 files", listing(20000), "", "", 23, kOutside},
        {"plan of 20001 files", listing(20001), "", "", 21, kMetadata},
        {"plan paths equal after folding", R"({"files":["a.dat","A.DAT"]})", "", "", 21,
         "The game repair plan contains an unsafe file path."},
        // A leftover journal stays when the plan is refused.
        {"journal kept on refused plan", R"({"gameId":""})", "", "journal:{}", 21, kMetadata},
        {"envelope missing", "", "", "remove:staging/manifest.envelope.json", 22,
         "The signed game manifest could not be read."},
        {"envelope of an untrusted key", "", "", "untrusted", 22,
         "Signed envelope signature is invalid."},
        {"manifest id in other case", "", R"({"manifestId":"M-1"})", "", 22, kMismatch},
        {"manifest channel differs", "", R"({"channel":"preview"})", "", 22, kMismatch},
        {"manifest digest upper case", "", R"({"files":[{"path":"a.dat","size":1,"sha256":")"
         "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\"}]}", "", 22,
         "The signed game manifest contains unsafe file metadata."},
        {"plan file outside the manifest", R"({"files":["a.dat","zz.dat"]})", "", "", 23, kOutside},
        {"staged file of another size", "", "", "write:staging/files/a.dat=short", 23, kSignedSize},
        {"staged file a directory", "", "", "remove:staging/files/d.dat|mkdir:staging/files/d.dat",
         23, kSignedSize},
        {"staged file of other bytes", "", "", "write:staging/files/a.dat=new a, of another sizE",
         23, "A staged repair file does not match its signed hash."},
        {"journal empty", "", "", "journal:", 24, kUnreadJournal},
        {"journal backup outside the backups", "", "", R"(journal:{"schemaVersion":1,"entries":[)"
         R"({"target":"a.dat","backup":".TAVORIN-backup/1/a.dat","hadOriginal":true}]})", 24,
         kUnsafeJournal},
        {"journal entry naming the journal", "", "", R"(journal:{"schemaVersion":1,"entries":[{)"
         R"("target":".Tavorin-Repair-Transaction.json","backup":".tavorin-backup/1/x",)"
         R"("hadOriginal":false}]})", 24, kUnsafeJournal},
        // As a crash after the first file's backup and copy leaves it: undone, then repaired.
        {"interrupted repair", "", "", "mkdir:inst/.tavorin-backup/3|write:inst/d.dat=not yet|"
         "move:inst/a.dat=inst/.tavorin-backup/3/a.dat|write:inst/a.dat.tavorin-new=half|"
         R"(journal:{"entries":[{"backup":".tavorin-backup/3/a.dat",)"
         R"("hadOriginal":true,"target":"a.dat"},{"backup":".tavorin-backup/3/d.dat",)"
         R"("hadOriginal":false,"target":"d.dat"}],"generation":3,"schemaVersion":1})", 0, ""},
        // The largest journal a repair can write (a plan of 1 MiB and 20000 files) is read back.
        {"interrupted repair, journal of 4194304 bytes", "", "", "mkdir:inst/.tavorin-backup/3|"
         R"(move:inst/a.dat=inst/.tavorin-backup/3/a.dat|journal:{"entries":[{"backup":)"
         R"(".tavorin-backup/3/a.dat","hadOriginal":true,"target":"a.dat"}],"generation":3,)"
         R"("schemaVersion":1}|pad-journal:4194304)", 0, ""},
        {"journal of 4194305 bytes", "", "", "journal:{}|pad-journal:4194305", 24, kUnreadJournal},
        {"backup directory cannot be made", "", "", "write:inst/.tavorin-backup=file", 25,
         "Could not create the game repair backup directory."},
        // Left by a run that died after its commit; never in this run's way.
        {"stale backup a directory", "", "", "mkdir:inst/.tavorin-backup/7/a.dat/x", 0, ""},
        // Staged as the plan writes it, installed as the manifest does.
        {"plan path in other case", R"({"files":["A.dat","bin/b.dat","d.dat","new/deep/c.dat"]})",
         "", "write:staging/files/A.dat=new a, of another size", 0, "", Posix},
        {"plan file a link", "", "",
         "move:staging/plan.json=outside/plan.json|link:staging/plan.json=outside/plan.json", 21,
         kPlanPath, Posix},
        {"installation root through a link", R"({"installationRoot":"@DIR@/linked/inst"})", "",
         "link:linked=.", 21, kMetadata, Posix},
        {"journal target behind a link", "", "", "write:outside/l/x=v|link:inst/linked=outside/l|"
         R"(journal:{"schemaVersion":1,"entries":[{"target":"linked/x",)"
         R"("backup":".tavorin-backup/1/x","hadOriginal":false}]})", 24, kUnsafeJournal, Posix},
        {"link on the way to a target", "", "", "mkdir:outside/new|link:inst/new=outside/new", 25,
         kRepairLink, Posix},
        {"dangling link at a target", "", "", "link:inst/d.dat=outside/victim", 25, kRepairLink,
         Posix},
        {"backup directory a link", "", "", "mkdir:outside/b|link:inst/.tavorin-backup=outside/b",
         25, kRepairLink, Posix},
        {"staged files directory a link", "", "",
         "mkdir:outside/f|remove:staging/files|link:staging/files=outside/f", 23,
         "The repair staging directory contains a symbolic link.", Posix},
        // Stale entries left by a crash are removed as entries, never written through.
        {"dangling link at the temporary copy", "", "", "link:inst/a.dat.tavorin-new=outside/v", 0,
         "", Posix},
        {"dangling link at the backup path", "", "",
         "mkdir:inst/.tavorin-backup/7|link:inst/.tavorin-backup/7/a.dat=outside/victim", 0, "",
         Posix},
        {"journal a link", "", "", "link:inst/.tavorin-repair-transaction.json=outside/victim", 24,
         kUnreadJournal, Posix},
    };
    // clang-format on
    return rows;
}

bool prepareRepair(RepairScenario& s, const QString& setup) {
    const QString journal = s.root() + "/.tavorin-repair-transaction.json";
    for (const QString& step : setup.split('|', Qt::SkipEmptyParts)) {
        const QString arg = step.section(':', 1);
        QFile padded(journal);  // to N bytes, with white space JSON allows
        if (step != "relative" &&
            !(step == "untrusted" && writeFile(s.path("staging/manifest.envelope.json"),
                                               signEnvelope("{}", {}, untrustedSigningKey()))) &&
            !(step.startsWith("journal:") && writeFile(journal, arg.toUtf8())) &&
            !(step.startsWith("pad-journal:") && padded.open(QIODevice::Append) &&
              padded.write(QByteArray(arg.toInt() - padded.size(), ' ')) > 0) &&
            !fileStep(s, step)) {
            return failed(step);
        }
    }
    return true;
}

void checkRepairRun(const RepairRow& r, const RepairScenario& s, const FileTree& outside, int code,
                    const QString& message) {
    QCOMPARE(code, r.code);
    QCOMPARE(message, QString(r.message));
    QCOMPARE(fileTree(s.path("outside")), outside);
    if (code == 0) {
        QCOMPARE(fileTree(s.root(), false), s.repaired());
        return;
    }
    const QByteArray setup = r.setup;
    FileTree expected = s.original();
    if (setup.contains("link:inst/d.dat")) {
        expected.insert("d.dat", "<link>");
    }
    QCOMPARE(fileTree(s.root()), expected);
    const QFileInfo journal(s.root() + "/.tavorin-repair-transaction.json");
    QCOMPARE(journal.exists() || journal.isSymLink(),
             (setup.contains("journal:") || setup.contains("transaction")) && code != 23);
}

void checkUpdateRun(const UpdateRow& r, const UpdateScenario& s, const FileTree& before,
                    const FileTree& outside, const QString& message) {
    QCOMPARE(message, QString(r.message));
    FileTree expected = message.isEmpty() ? s.after() : before;
    for (const QString& step : QString(r.setup).split('|')) {
        if (step.startsWith("late write:inst/")) {
            expected.insert(step.section('=', 0, 0).mid(16), step.section('=', 1).toUtf8());
        }
    }
    QCOMPARE(installationTree(s.root), expected);
    QCOMPARE(installationTree(s.path("outside")), outside);
    if (r.journaled == -1) {
        QCOMPARE(s.workDirectories(), QStringList());
    } else if (r.journaled >= 0) {
        QCOMPARE(s.journal().value("phase").toString(), "applying");
        QCOMPARE(s.journal().value("files").toArray().size(), r.journaled);
    }
}

const QList<UpdateRow>& updateRows() {
    // clang-format off
    static const QList<UpdateRow> rows = {
        {"staged root missing", false, "staged-root:none", "Launcher update paths are invalid."},
        {"staged root is the installation", false, "staged-root:inst", kSeparate},
        // Names that differ only in letter case are one file there.
        {"staged root is the installation in other letter case", false, "staged-root:INST",
         kSeparate, "exit", -1, Windows},
        {"delta plan named in other letter case", true, "plan:staged/LAUNCHER-UPDATE-PLAN.JSON", "",
         "exit", -1, Windows},
        {"launcher only in a subdirectory", false,
         "move:staged/ClientLauncher.exe=staged/bin/ClientLauncher.exe", kIncomplete},
        // Left by an update that died: taken away before the copy, or every later update fails.
        {"a stale copy beside a launcher file", true, "write:inst/bin/core.dll.tavorin-new=stale",
         ""},
        {"delta plan outside the staging", true, "plan:plan.json",
         "Launcher delta plan must be the staged launcher-update-plan.json."},
        {"delta stages a file it does not replace", true, "write:staged/extra.dll=x", kUnexpected},
        {"delta replaced file not staged", true, "remove:staged/bin/core.dll",
         "Launcher delta staging is incomplete."},
        {"delta staged file of other bytes", true, "write:staged/bin/core.dll=NEW core, longer",
         "Update file does not match its declared hash: bin/core.dll"},
        {"delta kept file missing", true, "remove:inst/keep.dat",
         "Update file does not match its declared size: keep.dat"},
        // Delta copies are hashed as they go in, whatever the run's rights.
        {"delta file of other bytes swapped in after the checks", true,
         "late write:staged/bin/core.dll=NEW core, longer", kNotInstalled, "exit", 6},
        // Only the result check reads a kept file again.
        {"delta kept file changed after the checks", true, "late write:inst/keep.dat=KEPT",
         "Update file does not match its declared hash: keep.dat", "exit", -2},
        {"signed full package, elevated", false, "elevated|release:{}", ""},
        {"signed delta, elevated", true, "elevated|release:{}", ""},
        {"elevated without a signed release", false, "elevated",
         "An elevated launcher update needs a signed release manifest."},
        // Found, a release is checked whatever the run's rights.
        {"release signed by another key", false, "release:untrusted",
         "Signed envelope signature is invalid."},
        {"release of another kind", false, R"(elevated|release:{"kind":"game"})", kInvalidRelease},
        {"release of schema version 2", true, R"(elevated|release:{"schemaVersion":2})",
         kInvalidRelease},
        {"release of another version", true, R"(elevated|release:{"version":"3.0"})",
         "Launcher release manifest is for another version."},
        {"full package with a file more", false, "elevated|release:{}|write:staged/extra.dll=x",
         kNotAsSigned},
        {"full package with a file less", false, "elevated|release:extra", kNotAsSigned},
        {"delta inventory other than the release", true, "elevated|release:extra", kNotAsSigned},
        // Gone while its size is taken, back before it is installed: not listed, so never
        // installed.
        {"unlisted file away while measured", false, "elevated|release:extra|write:staged/v.dll=v|"
         "sized remove:staged/v.dll|late write:staged/v.dll=v", kNotAsSigned},
        {"signed file of other bytes swapped in after the checks", false,
         "elevated|release:{}|late write:staged/bin/core.dll=NEW core, longer", kNotInstalled,
         "exit", -2},
        // How the new launcher answers. One left by an earlier update counts only when the
        // launcher writes it anew.
        {"the launcher ends without acknowledging", false, "", kNotStarted, "no-ack", -2},
        {"an acknowledgement there before the start, rewritten", false, "write:ack=earlier", ""},
        {"an acknowledgement there before the start, left as it was", false, "write:ack=earlier",
         kNotStarted, "no-ack", -2},
        {"the launcher stays; spaces and non-ASCII in the paths", false,
         "names:Launcher Ünïcödé 启动器=ack é 確認", "", "stay"},
        {"the launcher acknowledges with an empty file", false, "", "", "empty"},
        // Within the 150 polls of 100 ms.
        {"the launcher acknowledges after 3 seconds", true, "", "", "slow"},
        {"a directory at the acknowledgement path", false, "mkdir:ack", kNotStarted, "exit", -2,
         WholeProcess},
        // About 15 seconds: the updater gives the launcher 150 polls of 100 ms.
        {"the launcher never acknowledges and is ended", false, "", kNotStarted, "never", -2},
        // Its helper holds the new launcher open: it must be gone before the rollback.
        {"the launcher ends, its helper runs on", true, "", kNotStarted, "helper", -2},
        // Links, and names that differ only in case (Wine shows no links, and looks names up
        // without regard to case). Windows names cannot hold a double quote, and a trailing
        // backslash names the directory.
        {"double quotes and a trailing backslash in the paths", true,
         "names:inst \"q\" \\=ack \"q\" \\", "", "exit", -1, Posix},
        {"lower-case launcher", false, "move:staged/ClientLauncher.exe=staged/clientlauncher.exe",
         kIncomplete, "exit", -1, Posix},
        {"delta staging holds two names equal after folding", true,
         "write:staged/BIN/core.dll=new core, longer", kUnexpected, "exit", -1, Posix},
        {"link in the package", false, "write:outside/f=x|link:staged/bin/f=outside/f",
         kUnsafePackage, "exit", -1, Posix},
        {"dangling link in the delta staging", true, "link:staged/d=outside/none",
         "Launcher delta staging contains an unsafe path.", "exit", -1, Posix},
        {"staged root a link", false, "move:staged=real|link:staged=real", kUnsafePackage, "exit",
         -1, Posix},
        {"installation root a link", false, "move:inst=real|link:inst=real", kUnsafeLink, "exit",
         -1, Posix},
        {"a stale copy a link to a directory outside", true,
         "write:outside/dir/f=x|link:inst/bin/core.dll.tavorin-new=outside/dir", "", "exit", -1,
         Posix},
        {"work directory's parent a link", false,
         "mkdir:outside/w|link:inst/.tavorin-update=outside/w", kUnsafeLink, "exit", -1, Posix},
        // The eighth path of the delta: the seven before it are undone, and no journal follows.
        {"link on the way to the eighth path", true, "mkdir:outside/new|link:inst/new=outside/new",
         kUnsafeLink, "exit", 7, Posix},
        // The program holds the staging open from the start, so finds no release in it.
        {"signed release reached through a linked staging", false,
         "elevated|release:{}|move:staged=real|link:staged=real",
         "Signed envelope is empty or exceeds its size limit.", "exit", -1, Posix | InProcess},
        {"signed release reached through a linked staging, as a whole process", false,
         "elevated|release:{}|move:staged=real|link:staged=real",
         "An elevated launcher update needs a signed release manifest.", "exit", -1,
         Posix | WholeProcess},
        {"staged file swapped for a link after the checks", false, "write:outside/secret=s|"
         "late remove:staged/bin/core.dll|late link:staged/bin/core.dll=outside/secret",
         kNotInstalled, "exit", -2, Posix},
    };
    // clang-format on
    return rows;
}

bool prepareUpdate(const UpdateScenario& s, RowRequest& request, const QString& setup,
                   const QString& phase) {
    for (QString step : setup.split('|', Qt::SkipEmptyParts)) {
        const QString prefix = step.section(' ', 0, 0);
        if ((prefix == "late" || prefix == "sized" ? prefix : QString()) != phase) {
            continue;
        }
        step.remove(0, phase.isEmpty() ? 0 : phase.size() + 1);
        const QString arg = step.section(':', 1);
        if (step == "elevated") {
            request.elevated = true;
        } else if (step.startsWith("staged-root:")) {
            request.stagedRoot = s.path(arg);
        } else if (step.startsWith("plan:")) {
            request.deltaPlan = s.path(arg);
        } else if (!step.startsWith("names:") &&
                   !(step.startsWith("release:") && stageRelease(s, arg)) && !fileStep(s, step)) {
            return failed(step);
        }
    }
    return true;
}

std::pair<QString, QString> scenarioNames(const QString& setup) {
    for (const QString& step : setup.split('|')) {
        if (step.startsWith("names:")) {
            return {step.mid(6).section('=', 0, 0), step.section('=', 1)};
        }
    }
    return {"inst", "ack"};
}

}  // namespace testsupport
