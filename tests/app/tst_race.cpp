// An unprivileged user races the program running as root. For each attack, the user's swapper
// swaps a directory the user owns with a link in a tight loop while the repair or the update
// runs again and again, and every run is checked for an escape: a file outside the installation
// and the staging created, changed or removed, or a secret read into the installation. Linux,
// as root, with setpriv; each attack runs for LAUNCHERUPDATER_RACE_SECONDS (default 6).
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QtTest>

#include "process_harness.h"
#include "repair_scenario.h"
#include "signing_fixtures.h"

using testsupport::FileTree;

namespace {

const QByteArray kSecret = "secret of root";
// Two directories only root may enter: what must never change, and what must never be read.
const FileTree kVictim = {
    {"1.pak", "victim's level"}, {"result.json", "victim's result"}, {"keep.txt", "victim's file"}};

// A repair of inst/data/levels/1.pak from `staging`, signed with the test key.
FileTree repairFrom(const QString& root, const QString& staging) {
    QJsonObject plan = QJsonDocument::fromJson(R"({"schemaVersion":1,"manifestId":"m",
        "gameId":"g","channel":"stable","generation":1})")
                           .object();
    QJsonObject manifest = plan;
    plan.insert("installationRoot", root + "/inst");
    plan.insert("files", QJsonArray{"data/levels/1.pak"});
    manifest.insert("files", testsupport::inventoryOf({{"data/levels/1.pak", "repaired level"}}));
    return {{"inst/data/levels/1.pak", "damaged level"},
            {staging + "/files/data/levels/1.pak", "repaired level"},
            {staging + "/plan.json", QJsonDocument(plan).toJson()},
            {staging + "/manifest.envelope.json",
             testsupport::signEnvelope(QJsonDocument(manifest).toJson())}};
}

// A full launcher update of inst from staged.
FileTree launcherUpdate() {
    return {{"inst/ClientLauncher.exe", "old launcher"},
            {"inst/LauncherUpdater.exe", "old updater"},
            {"inst/bin/core.dll", "old core"},
            {"staged/ClientLauncher.exe", testsupport::readFile(harness::testLauncher())},
            {"staged/LauncherUpdater.exe", "new updater"},
            {"staged/bin/core.dll", "new core"}};
}

// Lays out `files` under `root` with the directories only root may enter, the user's own "user"
// and `owned`, and user/link, a link to `linkTarget`.
bool layOut(const QString& root, const FileTree& files, const QStringList& owned,
            const QString& linkTarget) {
    const passwd* user = ::getpwnam("nobody");  // in group nogroup
    bool laidOut = user != nullptr && testsupport::writeTree(root, files) &&
                   testsupport::writeTree(root + "/victim", kVictim) &&
                   testsupport::writeTree(root + "/secret", {{"core.dll", kSecret}}) &&
                   ::chmod(QFile::encodeName(root + "/victim"), 0700) == 0 &&
                   ::chmod(QFile::encodeName(root + "/secret"), 0700) == 0;
    for (const QString& directory : owned + QStringList{"user"}) {
        const QByteArray path = QFile::encodeName(root + '/' + directory);
        laidOut = laidOut && QDir().mkpath(path) && ::chown(path, user->pw_uid, user->pw_gid) == 0;
    }
    return laidOut && QFile::link(root + '/' + linkTarget, root + "/user/link");
}

// What went wrong outside, or empty.
QString escape(const QString& root) {
    if (testsupport::fileTree(root + "/victim", false, true) != kVictim) {
        return "the root-only directory changed";
    }
    const QStringList holders = testsupport::fileTree(root + "/inst", false).keys(kSecret);
    return holders.isEmpty() ? QString() : holders.first() + " holds the secret";
}

}  // namespace

class RaceTest : public QObject {
    Q_OBJECT

private slots:
    // The attack: how the swapper attacks ("exchange": the directory with user/link;
    // "children": each entry made in it with a link to the victim), the directory attacked (the
    // user owns it, and the one that holds it when it is moved), where user/link leads, and the
    // staging of a repair (none: a launcher update).
    void attacks_data() {
        QTest::addColumn<QString>("attack");
        QTest::newRow("repair, directory swap") << "exchange inst/data/levels victim staging";
        QTest::newRow("result file, staging swap") << "exchange base/staging victim base/staging";
        QTest::newRow("update, work directory swap") << "children inst/.tavorin-update victim";
        QTest::newRow("update, staged file flip") << "exchange staged/bin secret";
    }

    void attacks() {
        QFETCH(QString, attack);
        SKIP_WITHOUT_DROPPING_PRIVILEGES();
        const QStringList words = attack.split(' ');
        const QString mode = words[0], attacked = words[1], linkTarget = words[2];
        const QString staging = words.value(3);
        const int seconds = qEnvironmentVariableIntValue("LAUNCHERUPDATER_RACE_SECONDS");
        // The swapper and the program must be reachable for user nobody.
        QTemporaryDir dir;
        QVERIFY(::chmod(QFile::encodeName(dir.path()), 0755) == 0);
        const QString swapper =
            harness::copyForEveryone(QStringLiteral(LAUNCHERUPDATER_SWAPPER), dir.path());
        QVERIFY(!swapper.isEmpty());
        const QString root = dir.filePath("run");
        const QStringList owned = mode == "children"
                                      ? QStringList{attacked}
                                      : QStringList{QFileInfo(attacked).path(), attacked};
        const QStringList swap = {mode, root + '/' + attacked,
                                  root + (mode == "children" ? "/victim" : "/user/link")};
        // The temporary directory's path holds no spaces.
        const QStringList arguments =
            !staging.isEmpty()
                ? QStringList{"--apply-game-repair", "--plan", root + '/' + staging + "/plan.json"}
                : QString(
                      "--apply-update --install-root %1/inst --staged-root %1/staged --version "
                      "2 --ack %1/ack --parent-pid %2")
                      .arg(root)
                      .arg(harness::endedProcessId())
                      .split(' ');
        QStringList escapes;  // one per run: what went wrong, or empty
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < (seconds > 0 ? seconds : 6) * 1000) {
            QVERIFY(QDir(root).removeRecursively() || !QFile::exists(root));
            QVERIFY(layOut(root, staging.isEmpty() ? launcherUpdate() : repairFrom(root, staging),
                           owned, linkTarget));
            QProcess user;
            QVERIFY(harness::start(user, swap, harness::unprivilegedWrapper(), swapper));
            QVERIFY2(user.waitForReadyRead(10000), user.readAllStandardError());
            const ProcessResult result = harness::run(
                arguments, {}, staging.isEmpty() ? QString() : harness::testKeysExecutable(),
                {"LAUNCHERUPDATER_TEST_LAUNCHER=exit"});
            user.kill();
            user.waitForFinished();
            QVERIFY(result.finished);
            escapes << escape(root);
        }
        const qsizetype runs = escapes.size();
        escapes.removeAll(QString());
        qInfo("%s: %d runs, %d escapes%s%s", QTest::currentDataTag(), int(runs),
              int(escapes.size()),
              escapes.isEmpty() ? "" : ", first: ", qPrintable(escapes.value(0)));
        QCOMPARE(escapes.size(), 0);
    }
};

QTEST_GUILESS_MAIN(RaceTest)
#include "tst_race.moc"
