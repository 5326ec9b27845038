// The trusted key document rules and the development key file, seen through the constructor: a
// document goes in as the development key file; what comes out is the log, the set of key ids and
// the key pair that "launcher-test-1" stands for.
#include <QTemporaryDir>
#include <QTest>

#include "signing_fixtures.h"
#include "tst_signing.h"

using testsupport::base64Url;

namespace {

const QString kTestKeyId = QStringLiteral("launcher-test-1");
const QString kNotJson = QStringLiteral("Trusted key document is not valid JSON.");
const QString kSchema = QStringLiteral("Trusted key document schema is not supported.");
const QString kNotObject = QStringLiteral("Trusted key entry must be an object.");
const QString kInvalid = QStringLiteral("Trusted key entry is invalid or duplicated.");

// The document is taken: `added` join the compiled-in key (or replace it, under its id).
void taken(const char* name, const QByteArray& document, QStringList added = {}) {
    added.append(kTestKeyId);
    added.removeDuplicates();
    added.sort();
    QTest::newRow(name) << true << "{F}" << document
                        << "warning: development trusted keys loaded from {F}" << added;
}

// The document is refused as a whole: only the compiled-in key is left, and left unchanged.
void refused(const char* name, const QByteArray& document, const QString& reason) {
    QTest::newRow(name) << true << "{F}" << document
                        << "critical: development trusted key file rejected: " + reason
                        << QStringList{kTestKeyId};
}

}  // namespace

void TestSigning::keyDocumentRules_data() {
    QTest::addColumn<bool>("allowDevelopmentKeys");
    QTest::addColumn<QString>("variable");  // {F} is the file holding `document`
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("logLine");  // {F} as above; empty: nothing is logged
    QTest::addColumn<QStringList>("ids");

    const QByteArray testKey = testsupport::testSigningKey().publicKey();
    const QString p = base64Url(testKey);  // 43 characters holding both "-" and "_"
    const QString q = base64Url(testsupport::untrustedSigningKey().publicKey());
    // Put before a refused entry: taken alone, it would replace the compiled-in key.
    const QJsonObject replacing = keyEntry(kTestKeyId, q);
    // Non-ASCII, so that a limit counted in bytes shows.
    const QString id100(100, QChar(0x00e9));

    QTest::newRow("development keys not allowed: the file is ignored, nothing logged")
        << false << "{F}" << keyDocument({replacing}) << QString() << QStringList{kTestKeyId};
    QTest::newRow("file cannot be opened")
        << true << "{F}.missing" << QByteArray()
        << "critical: development trusted key file could not be opened: {F}.missing"
        << QStringList{kTestKeyId};
    taken("development key replaces the compiled-in key", keyDocument({replacing}));

    refused("not JSON", "keys: none", kNotJson);
    refused("not an object", "[]", kNotJson);
    refused("schema 2", R"({"schemaVersion":2,"keys":[]})", kSchema);
    refused("schema \"1\" as a string", R"({"schemaVersion":"1","keys":[]})", kSchema);
    refused("schema 1.5", R"({"schemaVersion":1.5,"keys":[]})", kSchema);
    taken("schema 1.0 reads as 1", R"({"schemaVersion":1.0,"keys":[]})");
    refused("keys not an array", R"({"schemaVersion":1,"keys":{}})", kSchema);
    taken("keys empty", keyDocument({}));
    taken("other members ignored",
          keyDocument({QJsonObject{{"keyId", "dev-1"}, {"publicKey", q}, {"note", 7}}}), {"dev-1"});
    refused("entry not an object", keyDocument({replacing, 5}), kNotObject);

    // Key ids: trimmed, 1 to 100 UTF-16 code units, unique within the document, exact case.
    taken("key id of 100 code units once trimmed", keyDocument({keyEntry(" " + id100 + "\t", q)}),
          {id100});
    refused("key id of 101 code units", keyDocument({replacing, keyEntry(id100 + 'k', q)}),
            kInvalid);
    refused("key id of 101 code units in 51 characters",
            keyDocument(
                {replacing, keyEntry(QString::fromUcs4(U"\U0001F511", 1).repeated(50) + 'k', q)}),
            kInvalid);
    refused("key id empty once trimmed", keyDocument({replacing, keyEntry(" \n", q)}), kInvalid);
    refused("ids differing in surrounding spaces are duplicates",
            keyDocument({keyEntry("dev-1", q), keyEntry(" dev-1", p)}), kInvalid);
    taken("ids differing in case are distinct",
          keyDocument({keyEntry("dev-1", q), keyEntry("DEV-1", p)}), {"DEV-1", "dev-1"});

    // Public keys: strict base64url of exactly 32 bytes. The texts with "+", "/" or a space
    // would give a lenient decoder the test key.
    refused("key with \"+\"",
            keyDocument({replacing, keyEntry("dev-2", QString(p).replace('-', '+'))}), kInvalid);
    refused("key with \"/\"",
            keyDocument({replacing, keyEntry("dev-2", QString(p).replace('_', '/'))}), kInvalid);
    refused("key with inner space",
            keyDocument({replacing, keyEntry("dev-2", p.left(20) + ' ' + p.mid(20))}), kInvalid);
    taken("key padded with \"=\" to 44 characters", keyDocument({keyEntry("dev-1", q + '=')}),
          {"dev-1"});
    refused("key with \"==\", 45 characters", keyDocument({replacing, keyEntry("dev-2", q + "==")}),
            kInvalid);
    refused("key with \"=\" inside, 44 characters",
            keyDocument({replacing, keyEntry("dev-2", p.left(40) + '=' + p.mid(40))}), kInvalid);
    refused("key of 31 bytes",
            keyDocument({replacing, keyEntry("dev-2", base64Url(testKey.left(31)))}), kInvalid);
    refused("key of 33 bytes",
            keyDocument({replacing, keyEntry("dev-2", base64Url(testKey + 'x'))}), kInvalid);
}

void TestSigning::keyDocumentRules() {
    QFETCH(bool, allowDevelopmentKeys);
    QFETCH(QString, variable);
    QFETCH(QByteArray, document);
    QFETCH(QString, logLine);
    QFETCH(QStringList, ids);

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("dev.json"));
    QVERIFY(dir.isValid() && testsupport::writeFile(file, document));
    QStringList log;
    const auto verifier =
        constructVerifier(allowDevelopmentKeys, variable.replace("{F}", file), log);
    QCOMPARE(log, logLine.isEmpty() ? QStringList() : QStringList{logLine.replace("{F}", file)});
    QCOMPARE(verifier->trustedKeyIds(), ids);

    // "launcher-test-1" keeps the compiled-in key pair unless a document taken names it.
    const bool replaced = logLine.startsWith("warning") && document.contains("\"launcher-test-1\"");
    QByteArray payload;
    QString keyId;
    QString message;
    QCOMPARE(verifier->verifyEnvelope(testsupport::signEnvelope("p"), payload, keyId, message),
             !replaced);
    QCOMPARE(verifier->verifyEnvelope(
                 testsupport::signEnvelope("p", {}, testsupport::untrustedSigningKey()), payload,
                 keyId, message),
             replaced);
}
