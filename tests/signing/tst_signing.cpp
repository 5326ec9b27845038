// Tests of SignatureVerifier. The executable has test-trusted-keys.json compiled in, so every
// verifier made here starts from the single key "launcher-test-1" of testSigningKey().
// The fuzz targets trusted_keys and envelope check on every run that whatever is accepted keeps
// the rules (ids trimmed and within their length, canonical base64url, 64-byte signatures the key
// made); the rows here hold each limit at and one past it, and give each message once.
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "signature_verifier.h"
#include "signing_fixtures.h"

using namespace testsupport;

namespace {

const QString kTestKeyId = QStringLiteral("launcher-test-1");
const QString kKeyInvalid = QStringLiteral("Trusted key entry is invalid or duplicated.");
const QString kSize = QStringLiteral("Signed envelope is empty or exceeds its size limit.");
const QString kUnsupported =
    QStringLiteral("Signed envelope algorithm or version is not supported.");
const QString kMalformed = QStringLiteral("Signed envelope payload or signature is malformed.");
const QString kInvalid = QStringLiteral("Signed envelope signature is invalid.");
// Binary, so that a payload handed back as text or cut at a zero byte shows.
const QByteArray kPayload("\x00{\"files\":[]}\xff", 14);
// Non-ASCII, so that a limit counted in bytes shows.
const QString kId100(100, QChar(0x00e9));

QJsonObject keyEntry(const QString& keyId, const QString& publicKey) {
    return {{"keyId", keyId}, {"publicKey", publicKey}};
}

QByteArray keyDocument(const QJsonArray& entries) {
    return QJsonDocument(QJsonObject{{"schemaVersion", 1}, {"keys", entries}})
        .toJson(QJsonDocument::Compact);
}

}  // namespace

class TestSigning : public QObject {
    Q_OBJECT

private slots:
    // A development key file goes in; out come the log and the trusted set. `ids` are those
    // besides the compiled-in key. A refused document leaves the set alone: its first entry,
    // taken alone, would replace the compiled-in key.
    void keyDocumentRules_data() {
        QTest::addColumn<QByteArray>("document");  // "-": no file there
        QTest::addColumn<QString>("log");          // "<level>: <text>", {F} the file's path
        QTest::addColumn<QStringList>("ids");
        const QByteArray testKey = testSigningKey().publicKey();
        const QString p = base64Url(testKey);
        const QString q = base64Url(untrustedSigningKey().publicKey());
        const QJsonObject replacing = keyEntry(kTestKeyId, q);
        const QString taken = "warning: development trusted keys loaded from {F}";
        const QString refused = "critical: development trusted key file rejected: ";
        const auto row = [](const char* name, const QByteArray& document, const QString& log,
                            const QStringList& ids = {}) {
            QTest::newRow(name) << document << log << ids;
        };
        // clang-format off
        // Without development keys allowed (the row's name says so) the file is not even read.
        row("not allowed: ignored", keyDocument({replacing}), "");
        row("file cannot be opened", "-", "critical: development trusted key file could not be opened: {F}");
        row("development key replaces the compiled-in key", keyDocument({replacing}), taken);
        row("the repository's document", readFile(LU_REPOSITORY_TRUSTED_KEYS), taken, {"launcher-prod-1"});
        // Ids trimmed, other members ignored, ids compared case-sensitively.
        row("key id of 100 code units once trimmed, ids in two cases",
            keyDocument({QJsonObject{{"keyId", " " + kId100 + "\t"}, {"publicKey", q}, {"x", 7}},
                         keyEntry("dev-1", q), keyEntry("DEV-1", p)}), taken, {kId100, "DEV-1", "dev-1"});
        row("not JSON", "keys: none", refused + "Trusted key document is not valid JSON.");
        row("schema 2", R"({"schemaVersion":2,"keys":[]})", refused + "Trusted key document schema is not supported.");
        row("entry not an object", keyDocument({replacing, 5}), refused + "Trusted key entry must be an object.");
        row("key id of 101 code units", keyDocument({replacing, keyEntry(kId100 + 'k', q)}), refused + kKeyInvalid);
        row("ids differing in surrounding spaces are duplicates",
            keyDocument({replacing, keyEntry("dev-1", q), keyEntry(" dev-1", p)}), refused + kKeyInvalid);
        row("key of 31 bytes", keyDocument({replacing, keyEntry("k", base64Url(testKey.left(31)))}), refused + kKeyInvalid);
        row("key of 33 bytes", keyDocument({replacing, keyEntry("k", base64Url(testKey + 'x'))}), refused + kKeyInvalid);
        // clang-format on
    }

    void keyDocumentRules() {
        QFETCH(QByteArray, document);
        QFETCH(QString, log);
        QFETCH(QStringList, ids);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("dev.json"));
        QVERIFY(document == "-" || writeFile(file, document));
        qputenv("TAVORIN_LAUNCHER_TRUSTED_KEYS_FILE", file.toUtf8());
        if (!log.isEmpty()) {
            QTest::ignoreMessage(log.startsWith("warning") ? QtWarningMsg : QtCriticalMsg,
                                 qPrintable(log.section(": ", 1).replace("{F}", file)));
        }
        QTest::failOnWarning(QRegularExpression());  // any other
        const SignatureVerifier verifier(
            !QByteArray(QTest::currentDataTag()).startsWith("not allowed"));
        qunsetenv("TAVORIN_LAUNCHER_TRUSTED_KEYS_FILE");
        ids << kTestKeyId;
        ids.sort();
        QCOMPARE(verifier.trustedKeyIds(), ids);
        // "launcher-test-1" keeps the compiled-in key pair unless a document taken names it.
        const bool replaced = log.startsWith("warning") && document.contains("launcher-test-1");
        QByteArray payload;
        QString keyId, message;
        const auto key = replaced ? untrustedSigningKey() : testSigningKey();
        QVERIFY2(verifier.verifyEnvelope(signEnvelope("p", {}, key), payload, keyId, message),
                 qPrintable(message));
    }

    // A build that lost its compiled-in document trusts nothing, and says so.
    void withoutTheCompiledInDocumentNothingIsTrusted() {
        Q_CLEANUP_RESOURCE(tst_signing_trusted_keys);
        const auto restore = qScopeGuard([] { Q_INIT_RESOURCE(tst_signing_trusted_keys); });
        QTest::ignoreMessage(QtCriticalMsg, "embedded trusted key configuration is missing");
        const SignatureVerifier verifier(false);
        QCOMPARE(verifier.trustedKeyIds(), QStringList());
        QByteArray payload;
        QString keyId, message;
        QVERIFY(!verifier.verifyEnvelope(signEnvelope("p"), payload, keyId, message));
    }

    // verifyEnvelope, its outputs holding stale values as a caller's might. `keyId` is the key id
    // handed out: empty while its test is not reached. The verifier is the compiled-in test key
    // or, for Project Wycheproof's Ed25519 vectors (public test data, kept beside this file),
    // the vector's public key as "w"; each vector's own verdict is expected, except that a signed
    // envelope never carries an empty payload and a signature not of 64 bytes is malformed.
    void envelopes_data() {
        QTest::addColumn<QByteArray>("envelope");
        QTest::addColumn<QString>("refusal");  // empty: accepted
        QTest::addColumn<QString>("keyIdOut");
        QTest::addColumn<QByteArray>("payloadOut");
        QTest::addColumn<QByteArray>("publicKey");  // empty: the compiled-in test key
        const auto row = [](const QString& name, const QByteArray& envelope,
                            const QString& refusal = {}, const QString& keyId = kTestKeyId,
                            const QByteArray& payload = kPayload, const QByteArray& key = {}) {
            QTest::newRow(qPrintable(name)) << envelope << refusal << keyId
                                            << (refusal.isEmpty() ? payload : QByteArray()) << key;
        };
        const QByteArray good = signEnvelope(kPayload);
        const QByteArray signature = testSigningKey().sign(kPayload);
        const QByteArray largest(8388608, '\0');
        // "-_-_" in base64url is "+/+/" in the standard alphabet: a decoder taking both accepts.
        const QByteArray dashes = QByteArray::fromHex("fbffbffbffbf");
        const QString d = base64Url(dashes);
        // clang-format off
        row("key id trimmed, other members ignored", signEnvelope(kPayload, {{"keyId", " launcher-test-1\t"}, {"at", 1}}));
        // The size is tested before anything else. JSON allows white space after the object.
        row("12 MiB", good + QByteArray(12582912 - good.size(), ' '));
        row("12 MiB and one byte", good + QByteArray(12582913 - good.size(), ' '), kSize, "");
        row("empty", "", kSize, "");
        row("not JSON", "signed", "Signed envelope is not valid JSON.", "");
        // Version and algorithm, tested before the key id.
        row("version 2", signEnvelope(kPayload, {{"envelopeVersion", 2}, {"keyId", ""}}), kUnsupported, "");
        row("algorithm in lower case", signEnvelope(kPayload, {{"algorithm", "ed25519"}}), kUnsupported, "");
        // Key id: 1 to 100 code units once trimmed, then looked up exactly, before the payload.
        row("key id of 101 code units is invalid, not unknown", signEnvelope(kPayload, {{"keyId", kId100 + 'k'}}),
            "Signed envelope key ID is invalid.", kId100 + 'k');
        row("key id of 100 code units is looked up, payload empty", signEnvelope(kPayload, {{"keyId", kId100}, {"payload", ""}}),
            "Signed envelope uses an unknown key: " + kId100, kId100);
        // Payload and signature: strict base64url of 1 byte (the vectors' empty messages) to
        // 8 MiB, and of exactly 64 bytes.
        row("payload of 8 MiB", signEnvelope(largest), {}, kTestKeyId, largest);
        row("payload of 8 MiB and one byte, correctly signed", signEnvelope(largest + 'x'), kMalformed);
        row("signature of 63 bytes", signEnvelope(kPayload, {{"signature", base64Url(signature.left(63))}}), kMalformed);
        row("signature of 65 bytes", signEnvelope(kPayload, {{"signature", base64Url(signature + 'x')}}), kMalformed);
        row("signature padded with \"==\"", signEnvelope(kPayload, {{"signature", base64Url(signature) + "=="}}));
        row("payload with \"+\"", signEnvelope(dashes, {{"payload", QString(d).replace('-', '+')}}), kMalformed);
        row("payload with a lone character after its last group", signEnvelope(dashes, {{"payload", d + 'A'}}), kMalformed);
        // The signature covers exactly the decoded payload bytes, both ends of them.
        row("signature over the payload's base64url text",
            signEnvelope(kPayload, {{"signature", base64Url(testSigningKey().sign(base64Url(kPayload).toLatin1()))}}),
            kInvalid);
        // clang-format on
        for (const int at : {0, 13}) {
            QByteArray flipped = kPayload;
            flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
            row(QString("bit flipped in payload byte %1").arg(at),
                signEnvelope(kPayload, {{"payload", base64Url(flipped)}}), kInvalid);
        }
        const auto hex = [](const QJsonValue& value) {
            return QByteArray::fromHex(value.toString().toLatin1());
        };
        int count = 0;
        const QByteArray vectors = readFile(QStringLiteral(LU_WYCHEPROOF_ED25519_FILE));
        for (const QJsonValue group : QJsonDocument::fromJson(vectors)["testGroups"].toArray()) {
            for (const QJsonValue test : group["tests"].toArray()) {
                const QByteArray message = hex(test["msg"]);
                const QByteArray sig = hex(test["sig"]);
                row(QString("tcId %1 %2").arg(test["tcId"].toInt()).arg(test["comment"].toString()),
                    signEnvelope(message, {{"keyId", "w"}, {"signature", base64Url(sig)}}),
                    message.isEmpty() || sig.size() != 64      ? kMalformed
                    : test["result"] == QLatin1String("valid") ? QString()
                                                               : kInvalid,
                    "w", message, hex(group["publicKey"]["pk"]));
                ++count;
            }
        }
        QCOMPARE(count, 151);
    }

    void envelopes() {
        QFETCH(QByteArray, envelope);
        QFETCH(QString, refusal);
        QFETCH(QString, keyIdOut);
        QFETCH(QByteArray, payloadOut);
        QFETCH(QByteArray, publicKey);
        auto verifier = std::make_unique<SignatureVerifier>(false);
        QByteArray payload = "stale";
        QString keyId = QStringLiteral("stale");
        QString message = QStringLiteral("untouched");
        QVERIFY(publicKey.isEmpty() ||
                SignatureVerifier::fromTrustedKeyDocument(
                    keyDocument({keyEntry("w", base64Url(publicKey))}), verifier, message));
        QCOMPARE(verifier->verifyEnvelope(envelope, payload, keyId, message), refusal.isEmpty());
        QCOMPARE(message, refusal.isEmpty() ? QStringLiteral("untouched") : refusal);
        QCOMPARE(keyId, keyIdOut);
        QVERIFY(payload == payloadOut);
    }
};

QTEST_GUILESS_MAIN(TestSigning)
#include "tst_signing.moc"
