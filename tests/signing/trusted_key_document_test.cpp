// The trusted key document rules and the development key file, seen through the constructor:
// the document goes in through TAVORIN_LAUNCHER_TRUSTED_KEYS_FILE with development keys allowed,
// and what comes out is the log and the set of key ids.
#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include "log_capture.h"
#include "signature_verifier.h"
#include "signing_fixtures.h"
#include "signing_test_helpers.h"
#include "tst_signing.h"

using testsupport::LogCapture;

namespace {

const QString kCompiledInId = QStringLiteral("launcher-test-1");
const QString kNotJson = QStringLiteral("Trusted key document is not valid JSON.");
const QString kSchema = QStringLiteral("Trusted key document schema is not supported.");
const QString kNotObject = QStringLiteral("Trusted key entry must be an object.");
const QString kInvalid = QStringLiteral("Trusted key entry is invalid or duplicated.");

QString supplementary50() {
    QString text;
    for (int i = 0; i < 50; ++i) {
        text += QString::fromUcs4(U"\U0001F511", 1);
    }
    return text;
}

// Document text with placeholders, so that the table below stays readable:
//   {P}  the test public key as unpadded base64url (43 characters, holding "-" and "_")
//   {P+} {P/}  the same with "-" written "+", or "_" written "/" (the standard alphabet)
//   {P_}  the same with a space after 20 characters
//   {P=}  the same with "=" after 40 characters: 44 characters, a multiple of 4
//   {Q}  another valid public key
//   {K31} {K33}  31 and 33 bytes as unpadded base64url
//   {HEX}  the test public key in hexadecimal (64 characters of the base64url alphabet)
//   {ID100} {ID101}  key ids of 100 and 101 code units
//   {SUPP50}  50 characters outside the Basic Multilingual Plane: 100 code units
QByteArray documentText(const QByteArray& text) {
    const QByteArray p = testsupport::testSigningKey().publicKey();
    const QString pText = testsupport::base64Url(p);
    QString filled = QString::fromUtf8(text);
    filled.replace(QStringLiteral("{P}"), pText);
    filled.replace(QStringLiteral("{P+}"), QString(pText).replace('-', '+'));
    filled.replace(QStringLiteral("{P/}"), QString(pText).replace('_', '/'));
    filled.replace(QStringLiteral("{P_}"), pText.left(20) + ' ' + pText.mid(20));
    filled.replace(QStringLiteral("{P=}"), pText.left(40) + '=' + pText.mid(40));
    filled.replace(QStringLiteral("{Q}"),
                   testsupport::base64Url(testsupport::untrustedSigningKey().publicKey()));
    filled.replace(QStringLiteral("{K31}"), testsupport::base64Url(p.left(31)));
    filled.replace(QStringLiteral("{K33}"), testsupport::base64Url(p + 'x'));
    filled.replace(QStringLiteral("{HEX}"), QString::fromLatin1(p.toHex()));
    filled.replace(QStringLiteral("{ID100}"), QString(100, QLatin1Char('k')));
    filled.replace(QStringLiteral("{ID101}"), QString(101, QLatin1Char('k')));
    filled.replace(QStringLiteral("{SUPP50}"), supplementary50());
    return filled.toUtf8();
}

// A schema 1 document whose "keys" array holds `entries`, with the placeholders above.
QByteArray keys(const char* entries) {
    return documentText(QByteArray(R"({"schemaVersion":1,"keys":[)") + entries + "]}");
}

void addDocumentRow(const char* name, const QByteArray& document, const QString& refusal,
                    const QStringList& addedIds = {}) {
    QStringList ids = addedIds;
    ids.append(kCompiledInId);
    ids.sort();
    QTest::newRow(name) << document << refusal
                        << (refusal.isEmpty() ? ids : QStringList{kCompiledInId});
}

}  // namespace

void TestSigning::keyDocumentRules_data() {
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("refusal");  // empty: the document is taken
    QTest::addColumn<QStringList>("idsAfter");

    // The whole document.
    addDocumentRow("empty file", "", kNotJson);
    addDocumentRow("not JSON", "keys: none", kNotJson);
    addDocumentRow("truncated", R"({"schemaVersion":1,"keys":[{"keyId":"a")", kNotJson);
    addDocumentRow("top level is an array", "[1]", kNotJson);
    addDocumentRow("garbage after the object", R"({"schemaVersion":1,"keys":[]} x)", kNotJson);
    addDocumentRow("schema missing", R"({"keys":[]})", kSchema);
    addDocumentRow("schema 2", R"({"schemaVersion":2,"keys":[]})", kSchema);
    addDocumentRow("schema \"1\" as a string", R"({"schemaVersion":"1","keys":[]})", kSchema);
    addDocumentRow("schema 1.5", R"({"schemaVersion":1.5,"keys":[]})", kSchema);
    addDocumentRow("schema 2^32+1 does not wrap to 1", R"({"schemaVersion":4294967297,"keys":[]})",
                   kSchema);
    addDocumentRow(
        "schema 1.0 reads as 1",
        documentText(R"({"schemaVersion":1.0,"keys":[{"keyId":"dev-1","publicKey":"{Q}"}]})"),
        QString(), {"dev-1"});
    addDocumentRow("keys missing", R"({"schemaVersion":1})", kSchema);
    addDocumentRow("keys an object", R"({"schemaVersion":1,"keys":{}})", kSchema);
    addDocumentRow("schema tested before entries", R"({"schemaVersion":2,"keys":[1]})", kSchema);
    addDocumentRow("keys empty adds nothing", keys(""), QString());
    addDocumentRow("other members ignored", documentText(R"({"schemaVersion":1,"comment":7,
                                    "keys":[{"keyId":"dev-1","publicKey":"{Q}","note":"x"}]})"),
                   QString(), {"dev-1"});

    // Entries must be objects; the first failing element decides.
    addDocumentRow("entry a string", keys(R"("dev-1")"), kNotObject);
    addDocumentRow("good entry, then a non-object",
                   keys(R"({"keyId":"dev-1","publicKey":"{Q}"},[])"), kNotObject);
    addDocumentRow("bad entry, then a non-object", keys(R"({"keyId":"dev-1"},5)"), kInvalid);
    addDocumentRow("non-object, then a bad entry", keys(R"(5,{"keyId":"dev-1"})"), kNotObject);

    // Key ids: trimmed, 1 to 100 UTF-16 code units, unique within the document, exact case.
    addDocumentRow("key id missing", keys(R"({"publicKey":"{Q}"})"), kInvalid);
    addDocumentRow("key id only white space", keys(R"({"keyId":" \t\n ","publicKey":"{Q}"})"),
                   kInvalid);
    addDocumentRow("key id of 100 code units", keys(R"({"keyId":"{ID100}","publicKey":"{Q}"})"),
                   QString(), {QString(100, QLatin1Char('k'))});
    addDocumentRow("key id of 101 code units", keys(R"({"keyId":"{ID101}","publicKey":"{Q}"})"),
                   kInvalid);
    addDocumentRow("100 code units inside white space",
                   keys(R"({"keyId":"  {ID100}\t","publicKey":"{Q}"})"), QString(),
                   {QString(100, QLatin1Char('k'))});
    addDocumentRow("50 surrogate pairs are 100 code units",
                   keys(R"({"keyId":"{SUPP50}","publicKey":"{Q}"})"), QString(),
                   {supplementary50()});
    addDocumentRow("50 surrogate pairs and one more",
                   keys(R"({"keyId":"{SUPP50}k","publicKey":"{Q}"})"), kInvalid);
    addDocumentRow("stored id is trimmed", keys(R"({"keyId":"  dev-1 \n","publicKey":"{Q}"})"),
                   QString(), {"dev-1"});
    addDocumentRow(
        "ids differing in case are distinct",
        keys(R"({"keyId":"dev-1","publicKey":"{Q}"},{"keyId":"DEV-1","publicKey":"{P}"})"),
        QString(), {"DEV-1", "dev-1"});
    addDocumentRow(
        "ids differing in surrounding spaces are duplicates",
        keys(R"({"keyId":"dev-1","publicKey":"{Q}"},{"keyId":" dev-1","publicKey":"{P}"})"),
        kInvalid);
    addDocumentRow(
        "exact duplicate",
        keys(R"({"keyId":"dev-1","publicKey":"{Q}"},{"keyId":"dev-1","publicKey":"{Q}"})"),
        kInvalid);

    // Public keys: strict base64url of exactly 32 bytes. Each text refused here would give the
    // 32 bytes of a key to a lenient decoder. A bad key refuses the whole document, good
    // entries beside it included.
    addDocumentRow(
        "key with \"+\"",
        keys(R"({"keyId":"dev-1","publicKey":"{Q}"},{"keyId":"dev-2","publicKey":"{P+}"})"),
        kInvalid);
    addDocumentRow(
        "key with \"/\"",
        keys(R"({"keyId":"dev-1","publicKey":"{Q}"},{"keyId":"dev-2","publicKey":"{P/}"})"),
        kInvalid);
    addDocumentRow("key with inner space", keys(R"({"keyId":"dev-1","publicKey":"{P_}"})"),
                   kInvalid);
    addDocumentRow("key with a trailing newline", keys(R"({"keyId":"dev-1","publicKey":"{Q}\n"})"),
                   kInvalid);
    addDocumentRow("key padded to 44 characters", keys(R"({"keyId":"dev-1","publicKey":"{Q}="})"),
                   QString(), {"dev-1"});
    addDocumentRow("key with two \"=\" after 43 characters",
                   keys(R"({"keyId":"dev-1","publicKey":"{Q}=="})"), kInvalid);
    addDocumentRow("key with \"=\" inside", keys(R"({"keyId":"dev-1","publicKey":"{P=}"})"),
                   kInvalid);
    // Shorter and longer keys than Ed25519's are refused, not cut or padded.
    addDocumentRow("key of 31 bytes", keys(R"({"keyId":"dev-1","publicKey":"{K31}"})"), kInvalid);
    addDocumentRow("key of 33 bytes", keys(R"({"keyId":"dev-1","publicKey":"{K33}"})"), kInvalid);
    addDocumentRow("key as hexadecimal", keys(R"({"keyId":"dev-1","publicKey":"{HEX}"})"),
                   kInvalid);
    addDocumentRow("key empty", keys(R"({"keyId":"dev-1","publicKey":""})"), kInvalid);
}

void TestSigning::keyDocumentRules() {
    QFETCH(QByteArray, document);
    QFETCH(QString, refusal);
    QFETCH(QStringList, idsAfter);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dev-keys.json"));
    QVERIFY(writeFile(path, document));
    qputenv(kDevelopmentKeysVariable, path.toUtf8());

    LogCapture log;
    const SignatureVerifier verifier(true);
    const QStringList expectedLog{
        refusal.isEmpty()
            ? QStringLiteral("warning: development trusted keys loaded from ") + path
            : QStringLiteral("critical: development trusted key file rejected: ") + refusal};
    QCOMPARE(log.describe(), expectedLog);
    QCOMPARE(verifier.trustedKeyIds(), idsAfter);
}

void TestSigning::developmentKeyFile_data() {
    QTest::addColumn<bool>("allowDevelopmentKeys");
    QTest::addColumn<QString>("variable");  // {DIR} is the directory holding dev.json
    QTest::addColumn<bool>("fromWorkingDirectory");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<QStringList>("idsAfter");

    const QStringList compiledIn{kCompiledInId};
    const QStringList withDevelopment{QStringLiteral("dev-1"), kCompiledInId};

    QTest::newRow("not allowed: a valid file is ignored")
        << false << "{DIR}/dev.json" << false << QStringList() << compiledIn;
    QTest::newRow("not allowed: a missing file is ignored")
        << false << "{DIR}/missing.json" << false << QStringList() << compiledIn;
    QTest::newRow("allowed, variable unset")
        << true << QString() << false << QStringList() << compiledIn;
    QTest::newRow("allowed, variable only white space")
        << true << " \t " << false << QStringList() << compiledIn;
    QTest::newRow("allowed, file loaded")
        << true << "{DIR}/dev.json" << false
        << QStringList{"warning: development trusted keys loaded from {DIR}/dev.json"}
        << withDevelopment;
    QTest::newRow("allowed, name trimmed")
        << true << "  {DIR}/dev.json \n"
        << false << QStringList{"warning: development trusted keys loaded from {DIR}/dev.json"}
        << withDevelopment;
    QTest::newRow("allowed, relative name from the working directory")
        << true << "dev.json" << true
        << QStringList{"warning: development trusted keys loaded from dev.json"} << withDevelopment;
    QTest::newRow("allowed, file missing")
        << true << "{DIR}/missing.json" << false
        << QStringList{"critical: development trusted key file could not be opened: "
                       "{DIR}/missing.json"}
        << compiledIn;
    QTest::newRow("allowed, names a directory")
        << true << "{DIR}" << false
        << QStringList{"critical: development trusted key file could not be opened: {DIR}"}
        << compiledIn;
}

void TestSigning::developmentKeyFile() {
    QFETCH(bool, allowDevelopmentKeys);
    QFETCH(QString, variable);
    QFETCH(bool, fromWorkingDirectory);
    QFETCH(QStringList, expectedLog);
    QFETCH(QStringList, idsAfter);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(
        dir.filePath(QStringLiteral("dev.json")),
        keyDocument(QStringLiteral("dev-1"), testsupport::untrustedSigningKey().publicKey())));
    if (fromWorkingDirectory) {
        QVERIFY(QDir::setCurrent(dir.path()));
    }
    if (!variable.isNull()) {
        qputenv(kDevelopmentKeysVariable, variable.replace("{DIR}", dir.path()).toUtf8());
    }
    expectedLog.replaceInStrings(QStringLiteral("{DIR}"), dir.path());

    LogCapture log;
    const SignatureVerifier verifier(allowDevelopmentKeys);
    QCOMPARE(log.describe(), expectedLog);
    for (const testsupport::LogLine& line : log.lines()) {
        QVERIFY2(!line.hasSourceLocation, qPrintable(line.text));
    }
    QCOMPARE(verifier.trustedKeyIds(), idsAfter);
}

void TestSigning::developmentKeyReplacesCompiledInKey() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dev.json"));
    // Same id as the compiled-in key, another key pair.
    QVERIFY(writeFile(path,
                      keyDocument(kCompiledInId, testsupport::untrustedSigningKey().publicKey())));
    qputenv(kDevelopmentKeysVariable, path.toUtf8());
    LogCapture log;
    const SignatureVerifier verifier(true);
    QCOMPARE(log.describe(),
             QStringList{QStringLiteral("warning: development trusted keys loaded from ") + path});
    QCOMPARE(verifier.trustedKeyIds(), QStringList{kCompiledInId});

    QByteArray payload;
    QString keyId;
    QString message;
    QVERIFY(verifier.verifyEnvelope(
        testsupport::signEnvelope("dev", testsupport::untrustedSigningKey()), payload, keyId,
        message));
    QCOMPARE(payload, QByteArray("dev"));
    QVERIFY(!verifier.verifyEnvelope(testsupport::signEnvelope("prod"), payload, keyId, message));
    QCOMPARE(message, QStringLiteral("Signed envelope signature is invalid."));
}

void TestSigning::refusedDevelopmentFileKeepsCompiledInKeys() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dev.json"));
    // The first entry would replace the compiled-in key; the second refuses the document.
    QVERIFY(writeFile(path, keys(R"({"keyId":"launcher-test-1","publicKey":"{Q}"},
                                 {"keyId":"dev-2","publicKey":"{K31}"})")));
    qputenv(kDevelopmentKeysVariable, path.toUtf8());

    LogCapture log;
    const SignatureVerifier verifier(true);
    QCOMPARE(log.describe(),
             QStringList{QStringLiteral("critical: development trusted key file rejected: ") +
                         kInvalid});
    QCOMPARE(verifier.trustedKeyIds(), QStringList{kCompiledInId});

    QByteArray payload;
    QString keyId;
    QString message;
    QVERIFY(verifier.verifyEnvelope(testsupport::signEnvelope("prod"), payload, keyId, message));
    QVERIFY(!verifier.verifyEnvelope(
        testsupport::signEnvelope("dev", testsupport::untrustedSigningKey()), payload, keyId,
        message));
    QCOMPARE(message, QStringLiteral("Signed envelope signature is invalid."));
}
