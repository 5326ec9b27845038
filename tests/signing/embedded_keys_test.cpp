// The compiled-in trusted key document, seen from probe executables built with
// lu_add_trusted_keys_resource() the way LauncherUpdater is: the resource must be registered
// before main() and found at ":/config/trusted-keys.json".
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "signing_fixtures.h"
#include "tst_signing.h"

void TestSigning::embeddedDocument_data() {
    QTest::addColumn<QString>("probe");
    QTest::addColumn<QString>("output");  // the keys found, then the verification of an envelope
    QTest::addColumn<QString>("log");     // as "<level>: <message>"

    const QString unknown = "refused: Signed envelope uses an unknown key: launcher-test-1\n";
    QTest::newRow("test document")
        << LU_PROBE_TEST_KEYS << "keys: launcher-test-1\naccepted launcher-test-1: probe payload\n"
        << "";
    QTest::newRow("repository document")
        << LU_PROBE_REPOSITORY_KEYS << "keys: launcher-prod-1\n" + unknown << "";
    QTest::newRow("no document") << LU_PROBE_NO_KEYS << "keys: \n" + unknown
                                 << "critical: embedded trusted key configuration is missing\n";
    QTest::newRow("refused document")
        << LU_PROBE_REFUSED_KEYS << "keys: \n" + unknown
        << "critical: trusted key configuration rejected: Trusted key entry is invalid or "
           "duplicated.\n";
}

void TestSigning::embeddedDocument() {
    QFETCH(QString, probe);
    QFETCH(QString, output);
    QFETCH(QString, log);

    QTemporaryDir dir;
    const QString envelope = dir.filePath(QStringLiteral("manifest.envelope.json"));
    QVERIFY(dir.isValid() && testsupport::writeSignedEnvelope(envelope, "probe payload"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_FORCE_STDERR_LOGGING", "1");
    environment.insert("QT_MESSAGE_PATTERN", "%{type}: %{message}");
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(probe, {envelope});
    QVERIFY2(process.waitForFinished(60000), qPrintable(process.errorString()));
    QCOMPARE(process.exitCode(), 0);
    // A Windows build writes its standard streams in text mode.
    QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()).replace("\r\n", "\n"), output);
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()).replace("\r\n", "\n"), log);
}
