// The compiled-in trusted key document, seen from separate executables built with
// lu_add_trusted_keys_resource() the way LauncherUpdater is: the resource must be registered
// before main() and found at ":/config/trusted-keys.json".
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include "signing_fixtures.h"
#include "signing_test_helpers.h"
#include "tst_signing.h"

void TestSigning::embeddedDocument_data() {
    QTest::addColumn<QString>("probe");
    QTest::addColumn<QString>("expectedOutput");
    QTest::addColumn<QString>("expectedLog");

    const QString unknownTestKey =
        QStringLiteral("refused: Signed envelope uses an unknown key: launcher-test-1\n");
    QTest::newRow("test document") << QStringLiteral(LU_PROBE_TEST_KEYS)
                                   << QStringLiteral(
                                          "keys: launcher-test-1\n"
                                          "accepted launcher-test-1: probe payload\n")
                                   << QString();
    QTest::newRow("repository document (LauncherUpdater's default)")
        << QStringLiteral(LU_PROBE_REPOSITORY_KEYS)
        << QStringLiteral("keys: launcher-prod-1\n") + unknownTestKey << QString();
    QTest::newRow("no document") << QStringLiteral(LU_PROBE_NO_KEYS)
                                 << QStringLiteral("keys: \n") + unknownTestKey
                                 << QStringLiteral(
                                        "critical: embedded trusted key configuration is "
                                        "missing\n");
    QTest::newRow("refused document")
        << QStringLiteral(LU_PROBE_REFUSED_KEYS) << QStringLiteral("keys: \n") + unknownTestKey
        << QStringLiteral(
               "critical: trusted key configuration rejected: Trusted key entry is invalid or "
               "duplicated.\n");
}

void TestSigning::embeddedDocument() {
    QFETCH(QString, probe);
    QFETCH(QString, expectedOutput);
    QFETCH(QString, expectedLog);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString envelope = dir.filePath(QStringLiteral("manifest.envelope.json"));
    QVERIFY(testsupport::writeSignedEnvelope(envelope, "probe payload"));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QString::fromLatin1(kDevelopmentKeysVariable));
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{type}: %{message}"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(probe, {envelope});
    QVERIFY2(process.waitForFinished(60000), qPrintable(process.errorString()));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), expectedOutput);
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()), expectedLog);
}
