// launcher-publish as a whole process: what it makes, the real updater takes; what it refuses,
// it refuses with the path named and nothing left behind. The tool is LAUNCHERUPDATER_PUBLISH_EXE
// (default: the one built beside this test), started like the updater (process_harness.h), so
// the Windows build runs these under Wine.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "process_harness.h"
#include "signing_fixtures.h"
#include "update_scenario.h"

using testsupport::FileTree;
using testsupport::readFile;

namespace {

const QByteArray kLink = "<link>";  // a file of this content is laid out as a link to outside.txt

QJsonObject readJson(const QString& path) {
    return QJsonDocument::fromJson(readFile(path)).object();
}

QByteArray manifestOf(const FileTree& files, int generation = 1) {
    return QJsonDocument(QJsonObject{{"schemaVersion", 1},
                                     {"manifestId", "m"},
                                     {"gameId", "g"},
                                     {"channel", "stable"},
                                     {"generation", generation},
                                     {"files", testsupport::inventoryOf(files)}})
        .toJson();
}

}  // namespace

class PublishTest : public QObject {
    Q_OBJECT

private:
    QString at(const QString& relative) const { return QDir(dir_->path()).filePath(relative); }
    QString trusted() const { return harness::programPath(LAUNCHERUPDATER_TEST_TRUSTED_KEYS); }

    // `wrapper` goes in front (a shell that limits the file size, strace). Windows writes text
    // with CR LF line ends; compared here as LF.
    ProcessResult publish(const QStringList& arguments, const QStringList& wrapper = {}) const {
        const QString tool = qEnvironmentVariable("LAUNCHERUPDATER_PUBLISH_EXE");
        ProcessResult result = harness::run(
            arguments, wrapper, tool.isEmpty() ? LAUNCHERUPDATER_DEFAULT_PUBLISH_EXE : tool,
            {QStringLiteral("TMPDIR=") + temporary_->path()});
        result.standardOutput.replace("\r\n", "\n");
        return result;
    }

    // The updater on the staged root `staged`; `elevated`: as the elevated copy, which trusts the
    // test key.
    ProcessResult update(const QString& staged, bool delta, bool elevated = false) const {
        QStringList arguments =
            QString(
                "--apply-update --version 2.0 --install-root %1 "
                "--staged-root %2 --ack %3 --parent-pid %4")
                .arg(harness::programPath(at("inst")), harness::programPath(at(staged)),
                     harness::programPath(at("ack")))
                .arg(harness::endedProcessId())
                .split(' ');
        if (delta) {
            arguments << "--from-version"
                      << "1.0"
                      << "--delta-plan"
                      << harness::programPath(at(staged + "/launcher-update-plan.json"));
        }
        if (elevated) {
            arguments << "--elevated";
        }
        return harness::run(arguments, {}, elevated ? harness::testKeysExecutable() : QString(),
                            {"LAUNCHERUPDATER_TEST_LAUNCHER=exit"});
    }

    // Writes `files`: one whose content is kLink as a link to outside.txt, one whose name ends
    // in "/" as an empty directory.
    bool layOut(const FileTree& files) const {
        bool laidOut = testsupport::writeFile(at("outside.txt"), "outside");
        for (auto file = files.cbegin(); file != files.cend(); ++file) {
            laidOut =
                laidOut && QDir().mkpath(QFileInfo(at(file.key())).path()) &&
                (file.key().endsWith('/') ||
                 (file.value() == kLink ? QFile::link(at("outside.txt"), at(file.key()))
                                        : testsupport::writeFile(at(file.key()), file.value())));
        }
        return laidOut;
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QTemporaryDir> temporary_;
    QString startDirectory_;

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        temporary_ = std::make_unique<QTemporaryDir>();
        startDirectory_ = QDir::currentPath();
        QVERIFY(dir_->isValid() && temporary_->isValid() && QDir::setCurrent(dir_->path()));
    }

    void cleanup() {
        QDir::setCurrent(startDirectory_);
        // Windows processes under Wine keep their temporary files in the prefix, not in TMPDIR.
        if (!harness::underWine()) {
            QCOMPARE(testsupport::entriesOf(temporary_->path()), QStringList());
        }
    }

    // Runs that end with nothing written (paths relative to the test's directory, %T: the test
    // trusted keys); those with an updater message stage "source" by hand for the updater, which
    // must refuse it too.
    void refusals_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<FileTree>("files");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");  // on stdout or stderr
        QTest::addColumn<QString>("updaterMessage");
        QTest::addColumn<bool>("linuxOnly");  // a link or a name that Wine shows otherwise
        const auto row = [](const char* name, const QString& arguments, const FileTree& files,
                            int exitCode, const char* message, const char* updaterMessage = "",
                            bool linuxOnly = false) {
            QTest::newRow(name) << arguments << files << exitCode << message << updaterMessage
                                << linuxOnly;
        };
        const QString manifest =
            "manifest --build source --manifest-id m --game-id g --channel stable --generation 1 "
            "--output output";
        const QString full = "full --to source --output output";
        const QString keygen = "keygen --key-id k --private-key k.pem --trusted-keys ";
        const FileTree launcher = {{"source/ClientLauncher.exe", "c"},
                                   {"source/LauncherUpdater.exe", "u"}};
        const auto with = [&launcher](const QString& path, const QByteArray& content) {
            FileTree tree = launcher;
            tree.insert("source/" + path, content);
            return tree;
        };
        const char* unsafe = "Launcher update package contains an unsafe path.";
        row("help", "delta --help", {}, 0, "--from-version");
        row("no command", "", {}, 2, "Usage:");
        row("unknown command", "publish", {}, 2, "unknown command 'publish'");
        row("unknown switch", "full --to a --output b --force", {}, 2, "unknown switch '--force'");
        row("missing switch", "sign --payload p", {}, 2, "missing switch --private-key");
        row("switch twice", "full --to a --to=b", {}, 2, "switch --to is given twice");
        row("channel", QString(manifest).replace("stable", "beta"), {}, 2,
            "the channel must be stable or preview.");
        row("key without its id", full + " --private-key k.pem", {}, 2,
            "--private-key and --key-id sign the release together.");
        row("key id of 101 characters",
            QString(keygen).replace(" k ", ' ' + QString(101, 'k') + ' ') + "t", {}, 2,
            "the key id must be 1 to 100 characters.");
        row("version of an unsigned full package", full + " --version 2.0", {}, 2,
            "--version is the version of a signed release");
        row("unreadable input", "sign --payload missing --private-key k.pem --key-id k --output e",
            {}, 1, "missing could not be read");
        row("key id the document holds", QString(keygen).replace(" k ", " launcher-test-1 ") + "t",
            {{"t", readFile(LAUNCHERUPDATER_TEST_TRUSTED_KEYS)}}, 1,
            "t already holds a key with the id launcher-test-1.");
        row("private key that exists", keygen + "t", {{"k.pem", "kept"}}, 1,
            "k.pem already exists");
        row("key document that cannot be written", keygen + "missing/t", {}, 1, "Could not write");
        row("key and document one file", keygen + "sub/../k.pem", {{"sub/x", ""}}, 1,
            "are one file");
        row("empty build", manifest, {{"source/", ""}}, 1, "holds no files");
        row("link in a build", manifest, {{"source/bin/a.dll", kLink}}, 1,
            "a.dll is a symbolic link", "", true);
        row("device name in a build", manifest, {{"source/aux.txt", "x"}}, 1,
            "aux.txt has a name the updater refuses", "", true);
        row("name Windows cannot hold in a build", manifest, {{"source/bin/a?.dll", "x"}}, 1,
            "a?.dll has a name Windows cannot hold", "", true);
        row("letter case in a build", manifest, {{"source/Bin/a", "x"}, {"source/bin/b", "y"}}, 1,
            "differs from another name only in letter case", "", true);
        row("control character in a launcher", full, with("lib/tab\t.dll", "x"), 1,
            "has a name Windows cannot hold", "", true);
        row("link in a launcher", full, with("lib/x.dll", kLink), 1, "x.dll is a symbolic link",
            unsafe, true);
        row("device name in a launcher", full, with("lpt1.log", "x"), 1, "lpt1.log has a name",
            unsafe, true);
        row("hidden file in a launcher", full, with(".settings", "x"), 1, ".settings is hidden");
        row("launcher in lower case", full,
            {{"source/clientlauncher.exe", "c"}, {"source/LauncherUpdater.exe", "u"}}, 1,
            "has no ClientLauncher.exe at its top", "Launcher update package is incomplete.");
        row("release envelope in a launcher", full, with("launcher-release.envelope.json", "x"), 1,
            "a name the updater keeps for the signed release",
            "Signed envelope is not valid JSON.");
        row("delta without the updater",
            "delta --from source --to source --from-version 1 --version 2 --output output",
            {{"source/ClientLauncher.exe", "c"}}, 1, "has no LauncherUpdater.exe at its top");
        // The tree walk takes as many files as the updater does, and no more (Wine: too slow).
        FileTree many;
        for (int i = 0; i < 20000; ++i) {
            many.insert(QString("source/%1/%2").arg(i / 1000).arg(i), "");
        }
        row("20000 files in a build",
            QString(manifest).replace("output output", "output missing/m"), many, 1,
            "Could not write", "", true);
        many.insert("source/x", "");
        row("20001 files in a build", manifest, many, 1, "holds more than 20000 files", "", true);

        // stage-repair of bin/game.exe, damaged in the installation.
        const FileTree game = {{"bin/game.exe", "game"}};
        const auto staging = [&game](const FileTree& changes, const QByteArray& envelope = {}) {
            FileTree tree = {
                {"install/bin/game.exe", "damaged"},
                {"build/bin/game.exe", "game"},
                {"envelope.json",
                 envelope.isEmpty() ? testsupport::signEnvelope(manifestOf(game)) : envelope}};
            tree.insert(changes);
            return tree;
        };
        const QString stage =
            "stage-repair --installation install --build build --envelope "
            "envelope.json --trusted-keys %T --output output";
        row("nothing to repair", stage, staging({{"install/bin/game.exe", "game"}}), 0,
            "Nothing to repair");
        row("generation 0", stage, staging({}, testsupport::signEnvelope(manifestOf(game, 0))), 1,
            "ids, channel or generation");
        row("forged signature", stage,
            staging({},
                    testsupport::signEnvelope(manifestOf(game), {{"signature", QString(86, 'A')}})),
            1, "Signed envelope signature is invalid.");
        row("build file not the signed one", stage, staging({{"build/bin/game.exe", "gamE"}}), 1,
            "is not the file the manifest signs");
        row("link in the installation", stage, staging({{"install/bin/game.exe", kLink}}), 1,
            "game.exe lies behind a symbolic link", "", true);
        row("link in the build", stage, staging({{"build/bin/game.exe", kLink}}), 1,
            "game.exe lies behind a symbolic link", "", true);
    }

    void refusals() {
        QFETCH(QString, arguments);
        QFETCH(FileTree, files);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(QString, updaterMessage);
        QFETCH(bool, linuxOnly);
        if (linuxOnly && harness::underWine()) {
            QSKIP("Wine shows links as plain entries and names Windows cannot hold otherwise");
        }
        QVERIFY(layOut(files));
        const FileTree before = testsupport::fileTree(dir_->path(), false, true);
        const ProcessResult result =
            publish(arguments.replace("%T", trusted()).split(' ', Qt::SkipEmptyParts));
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY2((result.standardOutput + result.standardError).contains(message.toUtf8()),
                 result.standardError);
        QCOMPARE(testsupport::fileTree(dir_->path(), false, true), before);
        if (!updaterMessage.isEmpty()) {
            QVERIFY(QDir().mkpath(at("inst")));
            const ProcessResult updated = update("source", false);
            QCOMPARE(updated.exitCode, 6);
            QVERIFY2(updated.standardError.contains(updaterMessage.toUtf8()),
                     updated.standardError);
        }
    }

    // A key of the longest id signs what verify then names it for; another key under that id
    // does not. The private key is its owner's alone.
    void keysSignAndVerify() {
        const QString id(100, 'k');
        for (const QString& key : {QString("one"), id}) {
            const ProcessResult made = publish({"keygen", "--key-id", key, "--private-key",
                                                key.left(3) + ".pem", "--trusted-keys", "t.json"});
            QCOMPARE(made.exitCode, 0);
            QVERIFY(!made.standardOutput.contains("PRIVATE"));
        }
        if (!harness::underWine()) {
            // Owner, group and others; Qt's "user" bits repeat the owner's for this user.
            QCOMPARE(QFile::permissions(at("one.pem")) & 0x7077,
                     QFile::ReadOwner | QFile::WriteOwner);
        }
        QVERIFY(testsupport::writeFile(at("payload"), "any bytes at all"));
        for (const QString& key : {QString("kkk"), QString("one")}) {
            QCOMPARE(publish({"sign", "--payload", "payload", "--private-key", key + ".pem",
                              "--key-id", id, "--output", key + ".json"})
                         .exitCode,
                     0);
            const ProcessResult verified =
                publish({"verify", "--trusted-keys", "t.json", key + ".json"});
            QCOMPARE(verified.exitCode, key == "kkk" ? 0 : 1);
            QVERIFY2((verified.standardOutput + verified.standardError)
                         .contains(key == "kkk" ? id.toUtf8() : "signature is invalid"),
                     verified.standardError);
        }
    }

    // Made by the tool, a staging repairs the damaged installation through the real updater.
    void repairRoundTrip() {
        // A shortcut is a file like any other, on Windows too.
        const FileTree game = {{"bin/game.exe", "game binary"},
                               {"data/levels/1.pak", "level one"},
                               {"data/levels/2.pak", "level two"},
                               {"Game.lnk", "a shortcut"},
                               {".settings", "hidden files count too"}};
        QVERIFY(testsupport::writeTree(at("build"), game) &&
                testsupport::writeTree(at("install"), game));
        QVERIFY(testsupport::writeTree(
                    at("install"), {{"bin/game.exe", "game binarY"}, {"Game.lnk", "a shortcuT"}}) &&
                QFile::remove(at("install/data/levels/2.pak")));
        QVERIFY(testsupport::writeFile(at("k.pem"), testsupport::testSigningKey().privateKeyPem()));
        QCOMPARE(publish(QString("manifest --build build --manifest-id m --game-id g --channel "
                                 "preview --generation 7 --output m.json")
                             .split(' '))
                     .exitCode,
                 0);
        QCOMPARE(publish({"sign", "--payload", "m.json", "--private-key", "k.pem", "--key-id",
                          "launcher-test-1", "--output", "e.json"})
                     .exitCode,
                 0);
        const ProcessResult staged =
            publish({"stage-repair", "--installation", "install", "--build", "build", "--envelope",
                     "e.json", "--trusted-keys", trusted(), "--output", "staging"});
        QCOMPARE(staged.exitCode, 0);
        QVERIFY(staged.standardOutput.contains("Game.lnk\nbin/game.exe\ndata/levels/2.pak\n"));
        QCOMPARE(readJson(at("staging/plan.json")).value("installationRoot").toString(),
                 harness::programPath(at("install")).replace('\\', '/'));
        const ProcessResult repaired = harness::run(
            {"--apply-game-repair", "--plan", harness::programPath(at("staging/plan.json"))}, {},
            harness::testKeysExecutable());
        QCOMPARE(repaired.exitCode, 0);
        QCOMPARE(testsupport::fileTree(at("install")), game);
    }

    // Made by the tool, a delta or full package updates a launcher through the real updater; an
    // elevated one, only when the release is signed.
    void launcherRoundTrip_data() {
        QTest::addColumn<bool>("delta");
        QTest::addColumn<bool>("signed_");
        QTest::newRow("delta") << true << false;
        QTest::newRow("full") << false << false;
        QTest::newRow("signed delta") << true << true;
        QTest::newRow("signed full") << false << true;
    }

    void launcherRoundTrip() {
        QFETCH(bool, delta);
        QFETCH(bool, signed_);
        // Neither executable changes; a file becomes a directory and a directory a file.
        const FileTree v1 = {{"ClientLauncher.exe", readFile(harness::testLauncher())},
                             {"LauncherUpdater.exe", "old"},
                             {"keep.dat", "kept"},
                             {"bin/core.dll", "old core"},
                             {"data/d1", "d1"},
                             {"plugins", "a file, then a directory"},
                             {"old/x.dll", "obsolete"}};
        FileTree v2 = v1;
        v2.remove("data/d1");
        v2.remove("plugins");
        v2.remove("old/x.dll");
        v2.insert(FileTree{{"bin/core.dll", "new core!"},
                           {"data", "a file, once a directory"},
                           {"plugins/p.dll", "p"},
                           {"new/deep/n.dll", "n"}});
        const auto executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        for (const auto& [root, tree] : {std::pair{"v1", v1}, {"v2", v2}, {"inst", v1}}) {
            QVERIFY(testsupport::writeTree(at(root), tree));
            QVERIFY(QFile::setPermissions(at(QString(root) + "/ClientLauncher.exe"), executable));
        }
        QVERIFY(QFile::setPermissions(at("v2/new/deep/n.dll"), executable));
        QStringList arguments = QString(delta ? "delta --from v1 --to v2 --from-version 1.0 "
                                                "--version 2.0 --output staged"
                                              : "full --to v2 --output staged")
                                    .split(' ');
        if (signed_) {
            QVERIFY(
                testsupport::writeFile(at("k.pem"), testsupport::testSigningKey().privateKeyPem()));
            arguments << "--private-key"
                      << "k.pem"
                      << "--key-id"
                      << "launcher-test-1";
            arguments << (delta ? QStringList() : QStringList{"--version", "2.0"});
        }
        QCOMPARE(publish(arguments).exitCode, 0);
        QCOMPARE(QFile::exists(at("staged/launcher-release.envelope.json")), signed_);
        if (!signed_) {
            const ProcessResult refused = update("staged", delta, true);
            QCOMPARE(refused.exitCode, 6);
            QVERIFY2(refused.standardError.contains(
                         "An elevated launcher update needs a signed release manifest."),
                     refused.standardError);
        }
        QVERIFY(harness::underWine() || QFileInfo(at("staged/new/deep/n.dll")).isExecutable());
        const ProcessResult updated = update("staged", delta, signed_);
        QVERIFY2(updated.exitCode == 0, updated.standardError);
        // A full package leaves what the new launcher does not hold.
        const FileTree installed = testsupport::installationTree(at("inst"));
        for (auto file = v2.cbegin(); file != v2.cend(); ++file) {
            QCOMPARE(installed.value(file.key()), file.value());
        }
        QVERIFY(!delta || installed == testsupport::installationTree(at("v2")));
    }

    // A copy cut short (by a file size limit, as a full disk would) leaves no partial output
    // directory behind; a whole one is on the disk before it appears under its name.
    void outputDirectory() {
        if (harness::underWine()) {
            QSKIP("the size limit and the trace work on Linux processes");
        }
        QVERIFY(testsupport::writeTree(
            at("v2"),
            {{"ClientLauncher.exe", "c"}, {"LauncherUpdater.exe", QByteArray(65536, 'u')}}));
        const QStringList full = {"full", "--to", "v2", "--output", "out"};
        ProcessResult result =
            publish(full, {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 16; exec \"$0\" \"$@\""});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.standardError.contains("Could not copy"));
        QCOMPARE(testsupport::entriesOf(dir_->path()), QStringList{"v2"});
        const QString strace = QStandardPaths::findExecutable("strace");
        if (strace.isEmpty()) {
            QSKIP("strace is not installed (scripts/install-deps.sh installs it)");
        }
        // LeakSanitizer cannot work under ptrace: in the sanitized build it would fail the run.
        result = publish(full, {strace, "-f", "-qq", "-E", "LSAN_OPTIONS=detect_leaks=0", "-o",
                                at("trace"), "-e", "trace=syncfs,rename,renameat,renameat2"});
        QCOMPARE(result.exitCode, 0);
        const QString trace = readFile(at("trace"));
        const qsizetype synced = trace.indexOf(" syncfs(");
        QVERIFY2(
            synced >= 0 && trace.indexOf(QRegularExpression("rename.*/\\.out\\.partial-")) > synced,
            qPrintable(trace));
    }

    // stage-repair stages a plan the size of the updater's cap and refuses one a byte longer.
    // The sizes are measured: a staging of long names first, just under the cap, then one
    // character more in the names for each byte the plan lacks (JSON writes them as they are).
    void planAtItsCap() {
        const qsizetype cap = 1048576;
        const QString deep = QString(200, 'd') + '/' + QString(200, 'e') + '/' + QString(200, 'f');
        QStringList names;
        // Each path takes at most 16 bytes more in the plan than its own length.
        while (names.size() < cap / (deep.size() + 101 + 16)) {
            names << QString("/%1%2").arg(names.size(), 4, 10, QChar('0')).arg(QString(96, 'n'));
        }
        const auto stage = [&](const QString& output) {
            FileTree build;
            for (const QString& name : names) {
                build.insert(deep + name, "x");
            }
            const bool laidOut =
                QDir(at("build")).removeRecursively() && QDir().mkpath(at("install")) &&
                testsupport::writeTree(at("build"), build) &&
                testsupport::writeFile(at("e.json"), testsupport::signEnvelope(manifestOf(build)));
            return laidOut ? publish({"stage-repair", "--installation", "install", "--build",
                                      "build", "--envelope", "e.json", "--trusted-keys", trusted(),
                                      "--output", output})
                           : ProcessResult();
        };
        QCOMPARE(stage("measured").exitCode, 0);
        qsizetype missing = cap - QFileInfo(at("measured/plan.json")).size();
        for (QString& name : names) {
            const qsizetype more = qMin(missing, qsizetype(150));
            name += QString(more, 'n');
            missing -= more;
        }
        QCOMPARE(missing, 0);
        QCOMPARE(stage("at").exitCode, 0);
        QCOMPARE(QFileInfo(at("at/plan.json")).size(), cap);
        names.last() += 'n';
        const ProcessResult over = stage("over");
        QCOMPARE(over.exitCode, 1);
        QVERIFY2(over.standardError.contains("would exceed the 1048576 bytes"), over.standardError);
        QVERIFY(!QFile::exists(at("over")));
    }
};

QTEST_GUILESS_MAIN(PublishTest)
#include "tst_publish.moc"
