// An unprivileged user races the program running as root. For each attack, the user's swapper
// swaps a directory the user owns with a link in a tight loop while the repair or the update
// runs again and again, and every run is checked for an escape: a file outside the installation
// and the staging created, changed or removed, or a secret read into the installation. Linux,
// as root, with setpriv; each attack runs for LAUNCHERUPDATER_RACE_SECONDS (default 6).
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "file_fixtures.h"
#include "process_harness.h"
#include "repair_scenario.h"
#include "signing_fixtures.h"

using testsupport::FileTree;

namespace {

const QByteArray kSecret = "secret of root";

// One attack: how to lay it out under a scratch directory, what the swapper does there, and
// how the program under test is run.
struct Attack {
    QStringList swapper;    // after the swapper's path; relative paths are under the scratch
    QStringList arguments;  // of the program under test, likewise
    bool repair = false;    // the repair runs with the test key; the update with its launcher
};

class Scratch {
public:
    explicit Scratch(const QString& root) : root_(root) {
        const passwd* user = ::getpwnam("nobody");
        const group* users = ::getgrnam("nogroup");
        uid_ = user != nullptr ? user->pw_uid : 65534;
        gid_ = users != nullptr ? users->gr_gid : 65534;
    }
    QString path(const QString& relative) const { return root_ + '/' + relative; }
    bool write(const FileTree& files) const { return testsupport::writeTree(root_, files); }
    // A directory the attacker owns (and may move to another of its directories), or one that
    // only root may enter.
    bool userDirectory(const QString& relative) const {
        return QDir().mkpath(path(relative)) &&
               ::chown(path(relative).toLocal8Bit().constData(), uid_, gid_) == 0;
    }
    bool rootOnlyDirectory(const QString& relative, const FileTree& files) const {
        return QDir().mkpath(path(relative)) && testsupport::writeTree(path(relative), files) &&
               QFile::setPermissions(path(relative), QFileDevice::ReadOwner |
                                                         QFileDevice::WriteOwner |
                                                         QFileDevice::ExeOwner);
    }
    bool link(const QString& relative, const QString& target) const {
        return QFile::link(path(target), path(relative));
    }

private:
    QString root_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
};

const FileTree kVictim = {
    {"1.pak", "victim's level"}, {"result.json", "victim's result"}, {"keep.txt", "victim's file"}};

// A repair of inst/data/levels/1.pak from staging `staging`, signed with the test key.
bool layOutRepair(const Scratch& s, const QString& staging) {
    const QByteArray repaired = "repaired level";
    const QJsonObject ids{{"manifestId", "m"},
                          {"gameId", "g"},
                          {"channel", "stable"},
                          {"generation", 1},
                          {"schemaVersion", 1}};
    QJsonObject plan = ids;
    plan.insert("installationRoot", s.path("inst"));
    plan.insert("files", QJsonArray{"data/levels/1.pak"});
    QJsonObject manifest = ids;
    manifest.insert("files", testsupport::inventoryOf({{"data/levels/1.pak", repaired}}));
    return s.write({{"inst/data/levels/1.pak", "damaged level"},
                    {staging + "/files/data/levels/1.pak", repaired},
                    {staging + "/plan.json", QJsonDocument(plan).toJson()}}) &&
           testsupport::writeSignedEnvelope(s.path(staging + "/manifest.envelope.json"),
                                            QJsonDocument(manifest).toJson());
}

// A full launcher update of inst from `staged`.
bool layOutUpdate(const Scratch& s) {
    return s.write({{"inst/ClientLauncher.exe", "old launcher"},
                    {"inst/LauncherUpdater.exe", "old updater"},
                    {"inst/bin/core.dll", "old core"},
                    {"staged/LauncherUpdater.exe", "new updater"},
                    {"staged/bin/core.dll", "new core"}}) &&
           QFile::copy(harness::testLauncher(), s.path("staged/ClientLauncher.exe"));
}

QStringList updateArguments(const Scratch& s) {
    return {"--apply-update",
            "--install-root",
            s.path("inst"),
            "--staged-root",
            s.path("staged"),
            "--version",
            "2",
            "--ack",
            s.path("ack"),
            "--parent-pid",
            QString::number(harness::endedProcessId())};
}

// Lays out `name` afresh under `s` and says how to run it.
bool layOut(const QString& name, const Scratch& s, Attack& attack) {
    // The user's own directory holds the link it swaps in, to the victim unless said otherwise.
    if (!s.rootOnlyDirectory("victim", kVictim) || !s.userDirectory("user") ||
        (name != "update, staged file flip" && !s.link("user/link", "victim"))) {
        return false;
    }
    if (name == "repair, directory swap") {
        attack = {{"exchange", s.path("inst/data/levels"), s.path("user/link")},
                  {"--apply-game-repair", "--plan", s.path("staging/plan.json")},
                  true};
        return layOutRepair(s, "staging") && s.userDirectory("inst/data") &&
               s.userDirectory("inst/data/levels");
    }
    if (name == "result file, staging swap") {
        attack = {{"exchange", s.path("base/staging"), s.path("user/link")},
                  {"--apply-game-repair", "--plan", s.path("base/staging/plan.json")},
                  true};
        return layOutRepair(s, "base/staging") && s.userDirectory("base") &&
               s.userDirectory("base/staging");
    }
    if (name == "update, work directory swap") {
        attack = {{"children", s.path("inst/.tavorin-update"), s.path("victim")},
                  updateArguments(s)};
        return layOutUpdate(s) && s.userDirectory("inst/.tavorin-update");
    }
    if (name == "update, staged file flip") {
        attack = {{"exchange", s.path("staged/bin"), s.path("user/link")}, updateArguments(s)};
        return layOutUpdate(s) && s.userDirectory("staged") && s.userDirectory("staged/bin") &&
               s.rootOnlyDirectory("secret", {{"core.dll", kSecret}}) &&
               s.link("user/link", "secret");
    }
    return false;
}

// What went wrong outside, or empty.
QString escape(const Scratch& s) {
    if (testsupport::fileTree(s.path("victim"), false, true) != kVictim) {
        return "the root-only directory changed";
    }
    const FileTree installed = testsupport::fileTree(s.path("inst"), false);
    for (auto file = installed.cbegin(); file != installed.cend(); ++file) {
        if (file.value().contains(kSecret)) {
            return file.key() + " holds the secret";
        }
    }
    return QString();
}

}  // namespace

class RaceTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QString why;
        if (!harness::canDropPrivileges(&why)) {
            QSKIP(qPrintable(why));
        }
    }

    void attacks_data() {
        QTest::addColumn<QString>("name");
        for (const char* name : {"repair, directory swap", "result file, staging swap",
                                 "update, work directory swap", "update, staged file flip"}) {
            QTest::newRow(name) << name;
        }
    }

    void attacks() {
        QFETCH(QString, name);
        const int seconds = qEnvironmentVariableIntValue("LAUNCHERUPDATER_RACE_SECONDS");
        // The swapper and the program must be reachable for user nobody.
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) |
                                                      QFileDevice::ExeOther |
                                                      QFileDevice::ReadOther));
        const QString swapper =
            harness::copyForEveryone(QStringLiteral(LAUNCHERUPDATER_SWAPPER), dir.path());
        QVERIFY(!swapper.isEmpty());
        const Scratch s(dir.filePath("run"));
        int runs = 0;
        QStringList escapes;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < (seconds > 0 ? seconds : 6) * 1000) {
            QVERIFY(QDir(s.path("")).removeRecursively() || !QFile::exists(s.path("")));
            Attack attack;
            QVERIFY(layOut(name, s, attack));
            QProcess user;
            const QStringList wrapper = harness::unprivilegedWrapper();
            user.start(wrapper.first(), wrapper.mid(1) << swapper << attack.swapper);
            QVERIFY2(user.waitForReadyRead(10000), user.readAllStandardError());
            const ProcessResult result =
                harness::run(attack.arguments, {},
                             attack.repair ? harness::testKeysExecutable() : harness::executable(),
                             {"LAUNCHERUPDATER_TEST_LAUNCHER=exit"});
            user.kill();
            user.waitForFinished();
            QVERIFY(result.finished);
            ++runs;
            const QString what = escape(s);
            if (!what.isEmpty()) {
                escapes << what;
            }
        }
        qInfo("%s: %d runs, %d escapes%s%s", qPrintable(name), runs, int(escapes.size()),
              escapes.isEmpty() ? "" : ", first: ", qPrintable(escapes.value(0)));
        QCOMPARE(escapes.size(), 0);
    }
};

QTEST_GUILESS_MAIN(RaceTest)
#include "tst_race.moc"
