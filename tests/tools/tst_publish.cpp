// launcher-publish as a whole process: what it makes, the real updater takes; what it refuses,
// it refuses with the path named, and the updater would refuse too. The tool is
// LAUNCHERUPDATER_PUBLISH_EXE (default: the one built beside this test), started like the
// updater (process_harness.h), so the Windows build runs these under Wine.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include "file_fixtures.h"
#include "process_harness.h"
#include "signing_fixtures.h"
#include "update_scenario.h"

using testsupport::FileTree;
using testsupport::readFile;

namespace {

const QString kLink = QStringLiteral("<link>");

QString publishTool() {
    const QString configured = qEnvironmentVariable("LAUNCHERUPDATER_PUBLISH_EXE");
    return configured.isEmpty() ? QStringLiteral(LAUNCHERUPDATER_DEFAULT_PUBLISH_EXE) : configured;
}

QJsonObject readJson(const QString& path) {
    return QJsonDocument::fromJson(readFile(path)).object();
}

// `files` under `root`; a file whose content is kLink becomes a link to a file outside.
bool writeTreeWithLinks(const QString& root, const FileTree& files) {
    FileTree plain;
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        if (file.value() != kLink.toLatin1()) {
            plain.insert(file.key(), file.value());
        } else if (!QDir(root).mkpath(QFileInfo(file.key()).path()) ||
                   !QFile::link(QDir(root).filePath(QStringLiteral("../outside.txt")),
                                QDir(root).filePath(file.key()))) {
            return false;
        }
    }
    return QDir().mkpath(root) && testsupport::writeTree(root, plain);
}

bool makeExecutable(const QString& path) {
    return QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
}

}  // namespace

class PublishTest : public QObject {
    Q_OBJECT

private:
    QString at(const QString& relative) const { return QDir(dir_->path()).filePath(relative); }
    QString arg(const QString& relative) const { return harness::programPath(at(relative)); }

    // Windows writes text with CR LF line ends; compared here as LF.
    ProcessResult publish(const QStringList& arguments) const {
        ProcessResult result = harness::run(arguments, {}, publishTool(),
                                            {QStringLiteral("TMPDIR=") + temporary_->path()});
        result.standardOutput.replace("\r\n", "\n");
        return result;
    }

    // `elevated`: as the elevated copy, by the updater that trusts the test key.
    ProcessResult update(const QString& stagedRoot, bool delta, bool elevated = false) const {
        QStringList arguments = {"--apply-update",
                                 "--version",
                                 "2.0",
                                 "--parent-pid",
                                 QString::number(harness::endedProcessId()),
                                 "--install-root",
                                 arg("inst"),
                                 "--staged-root",
                                 arg(stagedRoot),
                                 "--ack",
                                 arg("ack")};
        if (delta) {
            arguments << "--delta-plan" << arg(stagedRoot + "/launcher-update-plan.json")
                      << "--from-version"
                      << "1.0";
        }
        if (elevated) {
            arguments << "--elevated";
        }
        return harness::run(arguments, {}, elevated ? harness::testKeysExecutable() : QString(),
                            {"LAUNCHERUPDATER_TEST_LAUNCHER=exit"});
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

    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("expected");  // on stdout when 0, on stderr otherwise

        const QList<QStringList> helps = {
            {"keygen", "--key-id", "--private-key", "--trusted-keys"},
            {"manifest", "--build", "--manifest-id", "--game-id", "--channel", "--generation",
             "--output"},
            {"sign", "--payload", "--private-key", "--key-id", "--output"},
            {"verify", "--trusted-keys", "ENVELOPE.json"},
            {"stage-repair", "--installation", "--build", "--envelope", "--trusted-keys",
             "--output"},
            {"delta", "--from", "--to", "--from-version", "--version", "--output", "--private-key",
             "--key-id"},
            {"full", "--to", "--output", "--private-key", "--key-id", "--version"}};
        for (const QStringList& help : helps) {
            QTest::addRow("%s --help", qPrintable(help.first()))
                << QStringList{help.first(), "--help"} << 0 << help.mid(1);
        }
        QTest::newRow("no command") << QStringList() << 2 << QStringList{"Usage:"};
        QTest::newRow("unknown command")
            << QStringList{"publish"} << 2 << QStringList{"unknown command 'publish'"};
        QTest::newRow("unknown switch")
            << QStringList{"full", "--to", "a", "--output", "b", "--force"} << 2
            << QStringList{"unknown switch '--force'", "launcher-publish full --help"};
        QTest::newRow("missing switch") << QStringList{"sign", "--payload", "p"} << 2
                                        << QStringList{"missing switch --private-key"};
        QTest::newRow("switch twice") << QStringList{"full", "--to", "a", "--to=b"} << 2
                                      << QStringList{"switch --to is given twice"};
        QTest::newRow("channel") << QStringList{"manifest", "--build",      "b", "--manifest-id",
                                                "m",        "--game-id",    "g", "--channel",
                                                "beta",     "--generation", "1", "--output",
                                                "m.json"}
                                 << 2 << QStringList{"the channel must be stable or preview."};
        QTest::newRow("key without its id")
            << QStringList{"full", "--to", "a", "--output", "b", "--private-key", "k.pem"} << 2
            << QStringList{"--private-key and --key-id sign the release together."};
        QTest::newRow("key id of 101 characters")
            << QStringList{"keygen", "--key-id",       QString(101, 'k'), "--private-key",
                           "k.pem",  "--trusted-keys", "t.json"}
            << 2 << QStringList{"the key id must be 1 to 100 characters."};
        QTest::newRow("version of an unsigned full package")
            << QStringList{"full", "--to", "a", "--output", "b", "--version", "2.0"} << 2
            << QStringList{"--version is the version of a signed release"};
        QTest::newRow("unreadable input")
            << QStringList{"sign",     "--payload", "missing",  "--private-key", "k.pem",
                           "--key-id", "k",         "--output", "e.json"}
            << 1 << QStringList{"missing could not be read"};
    }

    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, expected);
        const ProcessResult result = publish(arguments);
        QCOMPARE(result.exitCode, exitCode);
        const QString text =
            QString::fromUtf8(exitCode == 0 ? result.standardOutput : result.standardError);
        for (const QString& part : expected) {
            QVERIFY2(text.contains(part), qPrintable(text));
        }
        QCOMPARE(testsupport::entriesOf(dir_->path()), QStringList());
    }

    void keysSignAndVerify() {
        const auto keygen = [this](const QString& id, const QString& key) {
            return publish({"keygen", "--key-id", id, "--private-key", arg(key), "--trusted-keys",
                            arg("trusted.json")});
        };
        ProcessResult result = keygen("release-1", "one.pem");
        QCOMPARE(result.exitCode, 0);
        QVERIFY(!result.standardOutput.contains("PRIVATE"));
        if (!harness::underWine()) {
            // Owner, group and others; Qt's "user" bits repeat the owner's for this user.
            QCOMPARE(QFile::permissions(at("one.pem")) & 0x7077,
                     QFile::ReadOwner | QFile::WriteOwner);
        }
        // A refused keygen writes neither file.
        const QByteArray document = readFile(at("trusted.json"));
        QCOMPARE(keygen("release-1", "two.pem").exitCode, 1);
        QCOMPARE(keygen("release-2", "one.pem").exitCode, 1);
        QVERIFY(!QFile::exists(at("two.pem")));
        QCOMPARE(readFile(at("trusted.json")), document);
        // A key document that cannot be written takes the new private key with it.
        QCOMPARE(publish({"keygen", "--key-id", "k", "--private-key", arg("three.pem"),
                          "--trusted-keys", arg("missing/trusted.json")})
                     .exitCode,
                 1);
        QVERIFY(!QFile::exists(at("three.pem")));
        // Two names of one file: the document would be written over the key.
        QVERIFY(QDir(dir_->path()).mkpath("sub"));
        for (const QString& other : {QString("same.pem"), QString("sub/../same.pem")}) {
            QCOMPARE(publish({"keygen", "--key-id", "k", "--private-key", arg("same.pem"),
                              "--trusted-keys", arg(other)})
                         .exitCode,
                     1);
            QVERIFY(!QFile::exists(at("same.pem")));
        }
        QCOMPARE(keygen("release-2", "two.pem").exitCode, 0);
        QCOMPARE(readJson(at("trusted.json")).value("keys").toArray().size(), 2);

        QVERIFY(testsupport::writeFile(at("payload"), "any bytes at all"));
        const auto signAndVerify = [this](const QString& key) {
            const ProcessResult signing =
                publish({"sign", "--payload", arg("payload"), "--private-key", arg(key), "--key-id",
                         "release-2", "--output", arg("envelope.json")});
            return signing.exitCode != 0 ? signing
                                         : publish({"verify", "--trusted-keys", arg("trusted.json"),
                                                    arg("envelope.json")});
        };
        result = signAndVerify("two.pem");
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.standardOutput.trimmed(), QByteArray("release-2"));
        result = signAndVerify("one.pem");
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.standardError.contains("Signed envelope signature is invalid."));
    }

    // Made by the tool, a staging repairs the damaged installation through the real updater.
    void repairRoundTrip() {
        // A shortcut is a file like any other, on Windows too.
        const FileTree game = {{"bin/game.exe", "game binary"},
                               {"data/levels/1.pak", "level one"},
                               {"data/levels/2.pak", "level two"},
                               {"Game.lnk", "a shortcut"},
                               {".settings", "hidden files count too"}};
        QVERIFY(testsupport::writeTree(at("build"), game));
        QVERIFY(testsupport::writeTree(at("install"), game));
        QVERIFY(testsupport::writeFile(at("install/bin/game.exe"), "game binarY"));
        QVERIFY(testsupport::writeFile(at("install/Game.lnk"), "a shortcuT"));
        QVERIFY(QFile::remove(at("install/data/levels/2.pak")));
        QVERIFY(
            testsupport::writeFile(at("test.pem"), testsupport::testSigningKey().privateKeyPem()));
        QCOMPARE(
            publish({"manifest", "--build", arg("build"), "--manifest-id", "m-7", "--game-id", "g",
                     "--channel", "preview", "--generation", "7", "--output", arg("manifest.json")})
                .exitCode,
            0);
        QCOMPARE(
            publish({"sign", "--payload", arg("manifest.json"), "--private-key", arg("test.pem"),
                     "--key-id", "launcher-test-1", "--output", arg("envelope.json")})
                .exitCode,
            0);
        const auto stage = [this](const QString& output) {
            return publish({"stage-repair", "--installation", "install", "--build", "build",
                            "--envelope", "envelope.json", "--trusted-keys",
                            harness::programPath(LAUNCHERUPDATER_TEST_TRUSTED_KEYS), "--output",
                            output});
        };
        ProcessResult result = stage("staging");
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(testsupport::entriesOf(at("staging")),
                 QStringList({"files", "manifest.envelope.json", "plan.json"}));
        QCOMPARE(testsupport::fileTree(at("staging/files")).keys(),
                 QStringList({"Game.lnk", "bin/game.exe", "data/levels/2.pak"}));
        QVERIFY(result.standardOutput.contains("Game.lnk\nbin/game.exe\ndata/levels/2.pak\n"));
        QCOMPARE(readJson(at("staging/plan.json")).value("installationRoot").toString(),
                 arg("install").replace('\\', '/'));

        result = harness::run({"--apply-game-repair", "--plan", arg("staging/plan.json")}, {},
                              harness::testKeysExecutable());
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(testsupport::fileTree(at("install")), game);

        result = stage("again");
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.standardOutput.startsWith("Nothing to repair"));
        QVERIFY(!QFile::exists(at("again")));

        if (harness::underWine()) {
            return;  // Wine shows links as plain entries.
        }
        // A damaged file behind a link, in the installation or in the build, is named and
        // nothing is staged; the one in the build is damaged in the installation too.
        QVERIFY(testsupport::writeFile(at("outside.txt"), "outside"));
        for (const QString& root : {QString("install"), QString("build")}) {
            QVERIFY(QFile::remove(at(root + "/bin/game.exe")) &&
                    QFile::link(at("outside.txt"), at(root + "/bin/game.exe")));
            result = stage("linked");
            QCOMPARE(result.exitCode, 1);
            QVERIFY2(result.standardError.contains("game.exe lies behind a symbolic link"),
                     result.standardError);
            QVERIFY(!QFile::exists(at("linked")));
            QVERIFY(QFile::remove(at("install/bin/game.exe")) &&
                    testsupport::writeFile(at("install/bin/game.exe"), "game binarY"));
        }
    }

    // An envelope the updater refuses is refused by stage-repair with its message, checked
    // signature or not.
    void stageRepairRefusesWhatTheUpdaterRefuses_data() {
        QTest::addColumn<QByteArray>("manifest");
        QTest::addColumn<QJsonObject>("envelopeChanges");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("message");
        const QByteArray good = R"({"schemaVersion":1,"manifestId":"m","gameId":"g",
            "channel":"stable","generation":1,"files":[{"path":"a","size":1,"sha256":
            "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb"}]})";
        QByteArray upper = good;
        upper.replace("ca978112", "CA978112");
        QTest::newRow("digest in upper case")
            << upper << QJsonObject() << false
            << "The signed game manifest contains unsafe file metadata.";
        QTest::newRow("algorithm") << good << QJsonObject{{"algorithm", "ed25519"}} << false
                                   << "Signed envelope algorithm or version is not supported.";
        QTest::newRow("plan rules: generation 0")
            << QByteArray(good).replace("\"generation\":1", "\"generation\":0") << QJsonObject()
            << false << "ids, channel or generation";
        QTest::newRow("forged signature") << good << QJsonObject{{"signature", QString(86, 'A')}}
                                          << true << "Signed envelope signature is invalid.";
    }

    void stageRepairRefusesWhatTheUpdaterRefuses() {
        QFETCH(QByteArray, manifest);
        QFETCH(QJsonObject, envelopeChanges);
        QFETCH(bool, trusted);
        QFETCH(QString, message);
        QVERIFY(testsupport::writeFile(at("envelope.json"),
                                       testsupport::signEnvelope(manifest, envelopeChanges)));
        QVERIFY(QDir().mkpath(at("install")) && QDir().mkpath(at("build")));
        QStringList arguments = {"stage-repair", "--installation", arg("install"),       "--build",
                                 arg("build"),   "--envelope",     arg("envelope.json"), "--output",
                                 arg("staging")};
        if (trusted) {
            arguments << "--trusted-keys"
                      << harness::programPath(LAUNCHERUPDATER_TEST_TRUSTED_KEYS);
        }
        const ProcessResult result = publish(arguments);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.standardError.contains(message.toUtf8()), result.standardError);
        QVERIFY(!QFile::exists(at("staging")));
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
        const QByteArray launcher = readFile(harness::testLauncher());
        const FileTree v1 = {{"ClientLauncher.exe", launcher},
                             {"LauncherUpdater.exe", "old"},
                             {"keep.dat", "kept"},
                             {"bin/core.dll", "old core"},
                             {"data/d1", "d1"},
                             {"plugins", "a file, then a directory"},
                             {"old/x.dll", "obsolete"}};
        const FileTree v2 = {{"ClientLauncher.exe", launcher},
                             {"LauncherUpdater.exe", "old"},
                             {"keep.dat", "kept"},
                             {"bin/core.dll", "new core!"},
                             {"data", "a file, once a directory"},
                             {"plugins/p.dll", "p"},
                             {"new/deep/n.dll", "n"}};
        for (const auto& [root, tree] : {std::pair{"v1", v1}, {"v2", v2}, {"inst", v1}}) {
            QVERIFY(testsupport::writeTree(at(root), tree));
            QVERIFY(makeExecutable(at(QString(root) + "/ClientLauncher.exe")));
        }
        QVERIFY(makeExecutable(at("v2/new/deep/n.dll")));
        QStringList arguments =
            delta ? QStringList{"delta",   "--from",         arg("v1"),    "--to",
                                arg("v2"), "--from-version", "1.0",        "--version",
                                "2.0",     "--output",       arg("staged")}
                  : QStringList{"full", "--to", arg("v2"), "--output", arg("staged")};
        const QString envelope = "staged/launcher-release.envelope.json";
        if (signed_) {
            QVERIFY(testsupport::writeFile(at("key.pem"),
                                           testsupport::testSigningKey().privateKeyPem()));
            arguments << "--private-key" << arg("key.pem") << "--key-id"
                      << testsupport::testSigningKey().keyId;
            if (!delta) {
                arguments << "--version"
                          << "2.0";
            }
        }
        ProcessResult result = publish(arguments);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(QFile::exists(at(envelope)), signed_);
        if (signed_) {
            result =
                publish({"verify", "--trusted-keys",
                         harness::programPath(LAUNCHERUPDATER_TEST_TRUSTED_KEYS), arg(envelope)});
            QCOMPARE(result.standardOutput.trimmed(), testsupport::testSigningKey().keyId);
        } else {
            result = update("staged", delta, true);
            QCOMPARE(result.exitCode, 6);
            QVERIFY2(result.standardError.contains(
                         "An elevated launcher update needs a signed release manifest."),
                     result.standardError);
        }
        FileTree staged = testsupport::fileTree(at("staged"), false, true);
        QCOMPARE(staged.remove("launcher-release.envelope.json"), signed_ ? 1 : 0);
        if (delta) {
            // Both executables, though neither changed; "old" goes as a whole, and
            // the file "plugins" makes way for a directory.
            QCOMPARE(staged.keys(),
                     QStringList({"ClientLauncher.exe", "LauncherUpdater.exe", "bin",
                                  "bin/core.dll", "data", "launcher-update-plan.json", "new",
                                  "new/deep", "new/deep/n.dll", "plugins", "plugins/p.dll"}));
            const QJsonObject plan = readJson(at("staged/launcher-update-plan.json"));
            QCOMPARE(plan.value("files").toArray().size(), v2.size());
            QCOMPARE(plan.value("remove").toArray(), QJsonArray({"old", "plugins"}));
        } else {
            QCOMPARE(staged, testsupport::fileTree(at("v2"), false, true));
        }
        if (!harness::underWine()) {
            QVERIFY(QFileInfo(at("staged/new/deep/n.dll")).isExecutable());
        }

        result = update("staged", delta, signed_);
        QVERIFY2(result.exitCode == 0, result.standardError);
        const FileTree installed = testsupport::installationTree(at("inst"));
        if (delta) {
            QCOMPARE(installed, testsupport::installationTree(at("v2")));
        }
        for (auto file = v2.cbegin(); file != v2.cend(); ++file) {
            QCOMPARE(installed.value(file.key()), file.value());
        }
    }

    // A copy cut short (here by a file size limit, as a full disk would) leaves no partial
    // output directory behind.
    void cutShortLeavesNothing() {
#ifdef Q_OS_WIN
        QSKIP("the file size limit is set through a POSIX shell");
#endif
        if (harness::underWine()) {
            QSKIP("the file size limit is set through a POSIX shell");
        }
        QVERIFY(testsupport::writeTree(
            at("v2"),
            {{"ClientLauncher.exe", "c"}, {"LauncherUpdater.exe", QByteArray(65536, 'u')}}));
        QProcess tool;
        tool.start("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 16; exec \"$0\" \"$@\"",
                               publishTool(), "full", "--to", arg("v2"), "--output", arg("out")});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY(tool.readAllStandardError().contains("Could not copy"));
        QCOMPARE(testsupport::entriesOf(dir_->path()), QStringList{"v2"});
    }

    // What the tool refuses to describe or stage, it names; a launcher it refuses to stage, the
    // updater refuses too when it is staged by hand.
    void refusals_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<FileTree>("tree");
        QTest::addColumn<bool>("linuxOnly");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("updaterMessage");
        const FileTree launcher = {{"ClientLauncher.exe", "c"}, {"LauncherUpdater.exe", "u"}};
        const auto with = [&launcher](const QString& path, const QByteArray& content) {
            FileTree tree = launcher;
            tree.insert(path, content);
            return tree;
        };
        const QString unsafe = "Launcher update package contains an unsafe path.";
        QTest::newRow("empty build") << "manifest" << FileTree() << false << "holds no files"
                                     << "";
        QTest::newRow("link in a build") << "manifest" << FileTree{{"bin/a.dll", kLink.toLatin1()}}
                                         << true << "a.dll is a symbolic link"
                                         << "";
        QTest::newRow("device name in a build") << "manifest" << FileTree{{"aux.txt", "x"}} << true
                                                << "aux.txt has a name the updater refuses"
                                                << "";
        QTest::newRow("name Windows cannot hold in a build")
            << "manifest" << FileTree{{"bin/a?.dll", "x"}} << true
            << "a?.dll has a name Windows cannot hold"
            << "";
        QTest::newRow("control character in a launcher")
            << "full" << with("lib/tab\t.dll", "x") << true << "has a name Windows cannot hold"
            << "";
        QTest::newRow("letter case in a build")
            << "manifest" << FileTree{{"Bin/a", "x"}, {"bin/b", "y"}} << true
            << "differs from another name only in letter case"
            << "";
        QTest::newRow("link in a launcher") << "full" << with("lib/x.dll", kLink.toLatin1()) << true
                                            << "x.dll is a symbolic link" << unsafe;
        QTest::newRow("device name in a launcher")
            << "full" << with("lpt1.log", "x") << true << "lpt1.log has a name" << unsafe;
        QTest::newRow("hidden file in a launcher")
            << "full" << with(".settings", "x") << false << ".settings is hidden"
            << "";
        QTest::newRow("launcher in lower case")
            << "full" << FileTree{{"clientlauncher.exe", "c"}, {"LauncherUpdater.exe", "u"}}
            << false << "has no ClientLauncher.exe at its top"
            << "Launcher update package is incomplete.";
        QTest::newRow("release envelope in a launcher")
            << "full" << with("launcher-release.envelope.json", "x") << false
            << "a name the updater keeps for the signed release"
            << "Signed envelope is not valid JSON.";
        QTest::newRow("delta without the updater")
            << "delta" << FileTree{{"ClientLauncher.exe", "c"}} << false
            << "has no LauncherUpdater.exe at its top"
            << "";
    }

    void refusals() {
        QFETCH(QString, command);
        QFETCH(FileTree, tree);
        QFETCH(bool, linuxOnly);
        QFETCH(QString, message);
        QFETCH(QString, updaterMessage);
        if (linuxOnly && harness::underWine()) {
            QSKIP("Wine shows links as plain entries and names Windows cannot hold otherwise");
        }
        QVERIFY(testsupport::writeFile(at("outside.txt"), "outside"));
        QVERIFY(writeTreeWithLinks(at("source"), tree));
        QStringList arguments{command};
        if (command == "manifest") {
            arguments << "--build" << arg("source") << "--manifest-id"
                      << "m"
                      << "--game-id"
                      << "g"
                      << "--channel"
                      << "stable"
                      << "--generation"
                      << "1";
        } else if (command == "delta") {
            arguments << "--from" << arg("source") << "--from-version"
                      << "1"
                      << "--version"
                      << "2";
        }
        if (command != "manifest") {
            arguments << "--to" << arg("source");
        }
        const ProcessResult result = publish(arguments << "--output" << arg("output"));
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.standardError.contains(message.toUtf8()), result.standardError);
        QCOMPARE(testsupport::entriesOf(dir_->path()), QStringList({"outside.txt", "source"}));

        if (!updaterMessage.isEmpty()) {
            QVERIFY(QDir().mkpath(at("inst")));
            const ProcessResult updated = update("source", false);
            QCOMPARE(updated.exitCode, 6);
            QVERIFY2(updated.standardError.contains(updaterMessage.toUtf8()),
                     updated.standardError);
        }
    }
};

QTEST_GUILESS_MAIN(PublishTest)
#include "tst_publish.moc"
