// launcher-publish as a whole process: what it makes, the real updater takes; what it refuses,
// it refuses with the path named and nothing left behind. The tool is LAUNCHERUPDATER_PUBLISH_EXE
// (default: the one built beside this test), started like the updater (process_harness.h), so
// the Windows build runs these under Wine.
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "process_harness.h"
#include "signing_fixtures.h"
#include "update_scenario.h"

using namespace testsupport;

namespace {

// The manifest of bin/game.exe holding "game".
const QByteArray kGameManifest =
    R"({"schemaVersion":1,"manifestId":"m","gameId":"g","channel":"stable","generation":1,)"
    R"("files":[{"path":"bin/game.exe","size":4,"sha256":)"
    R"("6ca5cab77e702c787b4c14b3d3bf26bad43da606be6eed04ab0b9720120ae081"}]})";

QString at(const QString& path) {
    return QDir::current().absoluteFilePath(path);
}

// Lays out under `root` the files of `description`: words "path=content", neither holding a
// space, a later word for a path taking its place; a path that ends in "/" is an empty
// directory, content "<link>" a link to outside.txt, "<launcher>" the test launcher.
bool lay(const QString& description, const QString& root = ".") {
    FileTree files;
    for (const QString& word : description.split(' ', Qt::SkipEmptyParts)) {
        files.insert(root + '/' + word.section('=', 0, 0), word.section('=', 1).toUtf8());
    }
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        const QByteArray content =
            file.value() == "<launcher>" ? readFile(harness::testLauncher()) : file.value();
        if (!QDir().mkpath(QFileInfo(file.key()).path()) ||
            !(file.key().endsWith('/') ||
              (content == "<link>" ? QFile::link(at("outside.txt"), file.key())
                                   : writeFile(file.key(), content)))) {
            return false;
        }
    }
    return true;
}

// Runs the tool with `arguments` split at spaces, %T the test key document; words before a %P
// go in front of the tool (a size limit, strace). Windows writes text with CR LF line ends;
// compared here as LF.
ProcessResult publish(const QString& arguments) {
    const QStringList words =
        QString(arguments)
            .replace("%T", harness::programPath(LAUNCHERUPDATER_TEST_TRUSTED_KEYS))
            .split(' ', Qt::SkipEmptyParts);
    const qsizetype program = words.indexOf("%P");
    ProcessResult result = harness::run(
        words.mid(program + 1), words.mid(0, qMax(program, qsizetype(0))),
        qEnvironmentVariable("LAUNCHERUPDATER_PUBLISH_EXE", LAUNCHERUPDATER_DEFAULT_PUBLISH_EXE));
    result.standardOutput.replace("\r\n", "\n");
    return result;
}

}  // namespace

class PublishTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid() && QDir::setCurrent(dir_->path()));
    }

    void cleanup() { QDir::setCurrent(QDir::tempPath()); }

    // Runs that change nothing on disk, paths relative to the test's directory. Every row has an
    // installation with bin/game.exe damaged, its build and signed manifest laid out; `files`
    // (as lay() reads them) go on top.
    void refusals_data() {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("message");  // on stdout or stderr
        QTest::addColumn<QString>("files");
        // clang-format off
        const QString manifest = "manifest --build source --manifest-id m --game-id g --channel stable --generation 1 --output output";
        const QString full = "full --to source --output output";
        const QString keygen = "keygen --key-id %1 --private-key k.pem --trusted-keys %2";
        const QString launcher = "source/ClientLauncher.exe=c source/LauncherUpdater.exe=u ";
        const QString stage = "stage-repair --installation install --build build --envelope e.json --trusted-keys %T --output output";
        const QString testKeys = QJsonDocument::fromJson(readFile(LAUNCHERUPDATER_TEST_TRUSTED_KEYS)).toJson(QJsonDocument::Compact);
        QTest::newRow("unknown switch") << 2 << "full --to a --output b --force" << "unknown switch '--force'" << "";
        QTest::newRow("missing switch") << 2 << "sign --payload p" << "missing switch --private-key" << "";
        QTest::newRow("switch twice") << 2 << "full --to a --to=b" << "switch --to is given twice" << "";
        QTest::newRow("channel") << 2 << QString(manifest).replace("stable", "beta") << "stable or preview." << "";
        QTest::newRow("key without its id") << 2 << full + " --private-key k" << "sign the release together." << "";
        QTest::newRow("key id of 101 characters") << 2 << keygen.arg(QString(101, 'k'), "t") << "1 to 100" << "";
        QTest::newRow("version of an unsigned package") << 2 << full + " --version 2" << "of a signed release" << "";
        QTest::newRow("unreadable input") << 1 << "sign --payload p --private-key k --key-id k --output e" << "p could not be read" << "";
        QTest::newRow("key id the document holds") << 1 << keygen.arg("launcher-test-1", "t") << "already holds a key" << "t=" + testKeys;
        QTest::newRow("private key that exists") << 1 << keygen.arg("k", "t") << "exists" << "k.pem=kept";
        // The private key just written goes again.
        QTest::newRow("key document not written") << 1 << keygen.arg("k", "missing/t") << "Could not write" << "";
        QTest::newRow("key and document one file") << 1 << keygen.arg("k", "sub/../k.pem") << "are one file" << "sub/";
        QTest::newRow("empty build") << 1 << manifest << "holds no files" << "source/";
        QTest::newRow("hidden file in a launcher") << 1 << full << ".settings is hidden" << launcher + "source/.settings=";
        QTest::newRow("release envelope in a launcher") << 1 << full << "keeps for the signed release" << launcher + "source/launcher-release.envelope.json=x";
        QTest::newRow("launcher in lower case") << 1 << full << "no ClientLauncher.exe at its top" << "source/clientlauncher.exe=c source/LauncherUpdater.exe=u";
        QTest::newRow("delta without the updater") << 1 << "delta --from source --to source --from-version 1 --version 2 --output output" << "no LauncherUpdater.exe at its top" << "source/ClientLauncher.exe=c";
        // stage-repair of the damaged bin/game.exe.
        QTest::newRow("nothing to repair") << 0 << stage << "Nothing to repair" << "install/bin/game.exe=game";
        QTest::newRow("generation 0") << 1 << stage << "ids, channel or generation" << QString("e.json=") + signEnvelope(QByteArray(kGameManifest).replace("\"generation\":1", "\"generation\":0"));
        QTest::newRow("forged signature") << 1 << stage << "signature is invalid." << QString("e.json=") + signEnvelope(kGameManifest, {{"signature", QString(86, 'A')}});
        QTest::newRow("build file not the signed one") << 1 << stage << "is not the file the manifest signs" << "build/bin/game.exe=gamE";
        // Wine shows links and names Windows cannot hold otherwise, and has no prlimit.
        if (!harness::underWine()) {
            QTest::newRow("link") << 1 << manifest << "a.dll is a symbolic link" << "source/a.dll=<link>";
            QTest::newRow("device name") << 1 << manifest << "aux.txt has a name the updater refuses" << "source/aux.txt=x";
            QTest::newRow("name Windows cannot hold") << 1 << manifest << "a?.dll has a name Windows" << "source/a?.dll=x";
            QTest::newRow("letter case") << 1 << manifest << "only in letter case" << "source/Bin/a=x source/bin/b=y";
            // A copy cut short, as by a full disk, leaves no partial output directory behind.
            QTest::newRow("copy cut short") << 1 << "env --ignore-signal=XFSZ prlimit --fsize=16384 %P " + full << "Could not copy" << launcher + "source/big.dat=" + QString(65536, 'u');
            QTest::newRow("link in the installation") << 1 << stage << "game.exe lies behind a symbolic link" << "install/bin/game.exe=<link>";
            QTest::newRow("link in the build") << 1 << stage << "game.exe lies behind a symbolic link" << "build/bin/game.exe=<link>";
        }
        // clang-format on
    }

    void refusals() {
        QFETCH(int, exitCode);
        QFETCH(QString, arguments);
        QFETCH(QString, message);
        QFETCH(QString, files);
        QVERIFY(
            lay("outside.txt=outside install/bin/game.exe=damaged build/bin/game.exe=game "
                "e.json=" +
                signEnvelope(kGameManifest) + ' ' + files));
        const FileTree before = fileTree(dir_->path(), false, true);
        const ProcessResult result = publish(arguments);
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY2((result.standardOutput + result.standardError).contains(message.toUtf8()),
                 result.standardError);
        QCOMPARE(fileTree(dir_->path(), false, true), before);
    }

    // A key of the longest id, the second in its document, signs what verify then names it for.
    // A private key is its owner's alone.
    void keysSignAndVerify() {
        const QString id(100, 'k');
        const QString keygen = "keygen --key-id %1 --private-key %2 --trusted-keys t.json";
        QCOMPARE(publish(keygen.arg("one", "one.pem")).exitCode, 0);
        const ProcessResult made = publish(keygen.arg(id, "k.pem"));
        QVERIFY(made.exitCode == 0 && !made.standardOutput.contains("PRIVATE"));
        // Owner, group and others; Qt's "user" bits repeat the owner's for this user.
        QVERIFY(harness::underWine() ||
                (QFile::permissions("k.pem") & 0x7077) == (QFile::ReadOwner | QFile::WriteOwner));
        // Any bytes at all may be signed: here the key document.
        QCOMPARE(
            publish("sign --payload t.json --private-key k.pem --key-id " + id + " --output e.json")
                .exitCode,
            0);
        QCOMPARE(publish("verify --trusted-keys t.json e.json").standardOutput.trimmed(),
                 id.toUtf8());
    }

    // Made by the tool, a delta or full package updates a launcher through the real updater, as
    // the elevated copy when the release is signed. LauncherUpdater.exe does not change, and is
    // replaced all the same; a file becomes a directory and a directory a file.
    void launcherRoundTrip_data() {
        QTest::addColumn<QString>("package");  // the tool's arguments besides --to and --output
        QTest::addColumn<QString>("update");   // the updater's besides those every update takes
        const QString delta = "delta --from v1 --from-version 1.0 --version 2.0";
        const QString plan = "--from-version 1.0 --delta-plan %1/staged/launcher-update-plan.json";
        const QString key = " --private-key k.pem --key-id launcher-test-1";
        QTest::newRow("delta") << delta << plan;
        QTest::newRow("full") << "full"
                              << "";
        QTest::newRow("signed delta") << delta + key << plan + " --elevated";
        QTest::newRow("signed full") << "full --version 2.0" + key << "--elevated";
    }

    void launcherRoundTrip() {
        QFETCH(QString, package);
        QFETCH(QString, update);
        const QString v1 =
            "ClientLauncher.exe=<launcher> LauncherUpdater.exe=old keep.dat=kept "
            "bin/core.dll=old data/d1=d1 plugins=file old/x.dll=obsolete";
        QVERIFY(lay(v1, "v1") && lay(v1, "inst") &&
                lay("ClientLauncher.exe=<launcher> LauncherUpdater.exe=old keep.dat=kept "
                    "bin/core.dll=new-core data=file plugins/p.dll=p new/deep/n.dll=n",
                    "v2") &&
                writeFile("k.pem", testSigningKey().privateKeyPem()));
        for (const char* file : {"v2/ClientLauncher.exe", "v2/new/deep/n.dll"}) {
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ExeOwner));
        }
        QCOMPARE(publish(package + " --to v2 --output staged").exitCode, 0);
        QVERIFY(harness::underWine() || QFileInfo("staged/new/deep/n.dll").isExecutable());
        const ProcessResult updated = harness::run(
            QString("--apply-update --version 2.0 --install-root %1/inst --staged-root %1/staged "
                    "--ack %1/ack --parent-pid %2 " +
                    update)
                .arg(harness::programPath(QDir::currentPath()))
                .arg(harness::endedProcessId())
                .split(' ', Qt::SkipEmptyParts),
            {}, update.contains("--elevated") ? harness::testKeysExecutable() : QString(),
            {"LAUNCHERUPDATER_TEST_LAUNCHER=exit"});
        QVERIFY2(updated.exitCode == 0, updated.standardError);
        // A full package leaves what the new launcher does not hold.
        const FileTree installed = installationTree(at("inst"));
        const FileTree wanted = installationTree(at("v2"));
        for (auto file = wanted.cbegin(); file != wanted.cend(); ++file) {
            QCOMPARE(installed.value(file.key()), file.value());
        }
        QVERIFY(!package.startsWith("delta") || installed == wanted);
    }

    // A tree of the most files the updater takes is made, its copies on the disk before the output
    // directory appears under its name; one file more is refused, nothing made.
    void treeOfTheMostFiles() {
        if (harness::underWine()) {
            QSKIP("Wine does not walk 20001 files in less than minutes, nor trace a process");
        }
        QVERIFY(lay("v2/ClientLauncher.exe=c v2/LauncherUpdater.exe=u"));
        for (int i = 1; i <= 19998; ++i) {
            QVERIFY(writeFile(QString("v2/%1").arg(i), ""));
        }
        // Only the renames and flushes are traced. LeakSanitizer cannot work under ptrace: in the
        // sanitized build it would fail the run.
        const bool traced = !QStandardPaths::findExecutable("strace").isEmpty();
        QCOMPARE(
            publish(QString(traced ? "strace -f --seccomp-bpf -qq -E LSAN_OPTIONS=detect_leaks=0 "
                                     "-o trace -e trace=syncfs,rename,renameat,renameat2 %P "
                                   : "") +
                    "full --to v2 --output out")
                .exitCode,
            0);
        QVERIFY(writeFile("v2/19999", ""));
        const ProcessResult refused = publish("full --to v2 --output more");
        QVERIFY2(refused.exitCode != 0 &&
                     refused.standardError.contains("holds more than 20000 files") &&
                     !QFileInfo::exists("more"),
                 refused.standardError.constData());
        if (!traced) {
            QSKIP("strace (scripts/install-deps.sh installs it) traces Linux processes");
        }
        // The first line naming the temporary directory is its rename.
        const QString trace = readFile("trace");
        const qsizetype synced = trace.indexOf(" syncfs(");
        QVERIFY2(synced >= 0 && trace.indexOf("/.out.partial-") > synced, qPrintable(trace));
    }

    // Made by the tool, a staging repairs the damaged installation through the real updater with
    // a plan of exactly the updater's cap; a plan a byte longer is refused. The sizes are
    // measured: a staging of long names first, just under the cap, then one character more in
    // the names for each byte the plan lacks (JSON writes them as they are).
    void repairRoundTrip() {
        const qsizetype cap = 1048576;
        const QString deep = QString(200, 'd') + '/' + QString(200, 'e') + '/' + QString(200, 'f');
        QStringList names;
        // Each path takes at most 16 bytes more in the plan than its own length.
        while (names.size() < cap / (deep.size() + 101 + 16)) {
            names << QString("/%1%2").arg(names.size(), 4, 10, QChar('0')).arg(QString(96, 'n'));
        }
        // A shortcut and a hidden file are files like any other; a file that matches stays.
        QVERIFY(lay("install/Game.lnk=a-shortcuT install/kept=kept") &&
                writeFile("k.pem", testSigningKey().privateKeyPem()));
        FileTree build;
        const auto stage = [&](const QString& output) {
            build = {{"Game.lnk", "a-shortcut"}, {".settings", "hidden"}, {"kept", "kept"}};
            for (const QString& name : names) {
                build.insert(deep + name, name.toUtf8());
            }
            const QString commands =
                "manifest --build build --manifest-id m --game-id g --channel preview --generation "
                "7 --output m.json;sign --payload m.json --private-key k.pem --key-id "
                "launcher-test-1 --output e.json;stage-repair --installation install --build build "
                "--envelope e.json --trusted-keys %T --output ";
            ProcessResult result;
            const bool written = QDir("build").removeRecursively() && writeTree("build", build);
            for (const QString& command : (commands + output).split(';')) {
                if (!written || (result = publish(command)).exitCode != 0) {
                    break;
                }
            }
            return result;
        };
        QCOMPARE(stage("measured").exitCode, 0);
        qsizetype missing = cap - QFileInfo(at("measured/plan.json")).size();
        // A name stays short enough for the repair's copy beside it (".tavorin-new").
        for (QString& name : names) {
            const qsizetype more = qMin(missing, qsizetype(140));
            name += QString(more, 'n');
            missing -= more;
        }
        QCOMPARE(missing, 0);
        const ProcessResult staged = stage("at");
        QVERIFY2(staged.exitCode == 0 && staged.standardOutput.startsWith(".settings\nGame.lnk\n"),
                 staged.standardError);
        QCOMPARE(QFileInfo(at("at/plan.json")).size(), cap);
        const FileTree repaired = build;
        names.last() += 'n';
        const ProcessResult over = stage("over");
        QVERIFY2(over.exitCode == 1 &&
                     over.standardError.contains("would exceed the 1048576 bytes") &&
                     !QFile::exists(at("over")),
                 over.standardError);
        const ProcessResult repair = harness::run(
            {"--apply-game-repair", "--plan", harness::programPath(at("at/plan.json"))}, {},
            harness::testKeysExecutable());
        QVERIFY2(repair.exitCode == 0, repair.standardError);
        QCOMPARE(fileTree(at("install")), repaired);
    }
};

QTEST_GUILESS_MAIN(PublishTest)
#include "tst_publish.moc"
