// Tests of SignatureVerifier. The executable has test-trusted-keys.json compiled in, so every
// verifier made here starts from the single key "launcher-test-1" of testsupport::testSigningKey().
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "signature_verifier.h"
#include "signing_fixtures.h"

using testsupport::base64Url;
using testsupport::signEnvelope;

namespace {

const QString kTestKeyId = QStringLiteral("launcher-test-1");
const QString kKeyInvalid = QStringLiteral("Trusted key entry is invalid or duplicated.");
const QString kSchema = QStringLiteral("Trusted key document schema is not supported.");
const QString kSize = QStringLiteral("Signed envelope is empty or exceeds its size limit.");
const QString kNotJson = QStringLiteral("Signed envelope is not valid JSON.");
const QString kUnsupported =
    QStringLiteral("Signed envelope algorithm or version is not supported.");
const QString kKeyIdInvalid = QStringLiteral("Signed envelope key ID is invalid.");
const QString kUnknownKey = QStringLiteral("Signed envelope uses an unknown key: %1");
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

QStringList* capturedLog = nullptr;

// Constructs a verifier with `document` as the development key file (`variable` names it, {F}
// standing for its path). What the construction logs goes to `log` as "<level>: text".
std::unique_ptr<SignatureVerifier> constructVerifier(bool allowDevelopmentKeys,
                                                     const QByteArray& document, QStringList& log,
                                                     QString variable = "{F}") {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("dev.json"));
    testsupport::writeFile(file, document);
    qputenv("TAVORIN_LAUNCHER_TRUSTED_KEYS_FILE", variable.replace("{F}", file).toUtf8());
    capturedLog = &log;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            capturedLog->append((type == QtCriticalMsg  ? "critical: "
                                 : type == QtWarningMsg ? "warning: "
                                                        : "other: ") +
                                text);
        });
    auto verifier = std::make_unique<SignatureVerifier>(allowDevelopmentKeys);
    qInstallMessageHandler(previous);
    qunsetenv("TAVORIN_LAUNCHER_TRUSTED_KEYS_FILE");
    log.replaceInStrings(file, "{F}");
    return verifier;
}

}  // namespace

class TestSigning : public QObject {
    Q_OBJECT

private slots:
    void keyDocumentRules_data();
    void keyDocumentRules();
    void envelopeRules_data();
    void envelopeRules();
    void wycheproof_data();
    void wycheproof();
    void embeddedDocument_data();
    void embeddedDocument();
};

// A document goes in as the development key file; what comes out is the log, the set of key ids
// and the key pair that "launcher-test-1" stands for. `ids` are those besides the compiled-in
// key; a refused document leaves that alone.
void TestSigning::keyDocumentRules_data() {
    QTest::addColumn<bool>("allowDevelopmentKeys");
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("refusal");  // empty: taken, with a warning; "-": none read
    QTest::addColumn<QStringList>("ids");
    const QByteArray testKey = testsupport::testSigningKey().publicKey();
    const QString p = base64Url(testKey);
    const QString q = base64Url(testsupport::untrustedSigningKey().publicKey());
    // Put before a refused entry: taken alone, it would replace the compiled-in key.
    const QJsonObject replacing = keyEntry(kTestKeyId, q);
    const auto row = [&](const char* name, const QByteArray& document, const QString& refusal,
                         const QStringList& ids = {}) {
        QTest::newRow(name) << true << "{F}" << document << refusal << ids;
    };

    QTest::newRow("development keys not allowed: ignored")
        << false << "{F}" << keyDocument({replacing}) << "-" << QStringList();
    QTest::newRow("file cannot be opened")
        << true << "{F}.missing" << QByteArray() << "-" << QStringList();
    row("development key replaces the compiled-in key", keyDocument({replacing}), "");
    row("not JSON", "keys: none", "Trusted key document is not valid JSON.");
    row("schema 2", R"({"schemaVersion":2,"keys":[]})", kSchema);
    row("schema \"1\" as a string", R"({"schemaVersion":"1","keys":[]})", kSchema);
    row("schema 1.0 reads as 1", R"({"schemaVersion":1.0,"keys":[]})", "");
    row("keys not an array", R"({"schemaVersion":1,"keys":{}})", kSchema);
    row("other members ignored",
        keyDocument({QJsonObject{{"keyId", "dev-1"}, {"publicKey", q}, {"note", 7}}}), "",
        {"dev-1"});
    row("entry not an object", keyDocument({replacing, 5}), "Trusted key entry must be an object.");
    row("key id of 100 code units once trimmed", keyDocument({keyEntry(" " + kId100 + "\t", q)}),
        "", {kId100});
    row("key id of 101 code units", keyDocument({replacing, keyEntry(kId100 + 'k', q)}),
        kKeyInvalid);
    row("key id empty once trimmed", keyDocument({replacing, keyEntry(" \n", q)}), kKeyInvalid);
    row("ids differing in surrounding spaces are duplicates",
        keyDocument({keyEntry("dev-1", q), keyEntry(" dev-1", p)}), kKeyInvalid);
    row("ids differing in case are distinct",
        keyDocument({keyEntry("dev-1", q), keyEntry("DEV-1", p)}), "", {"DEV-1", "dev-1"});
    row("key of 31 bytes", keyDocument({replacing, keyEntry("k", base64Url(testKey.left(31)))}),
        kKeyInvalid);
    row("key of 33 bytes", keyDocument({replacing, keyEntry("k", base64Url(testKey + 'x'))}),
        kKeyInvalid);
}

void TestSigning::keyDocumentRules() {
    QFETCH(bool, allowDevelopmentKeys);
    QFETCH(QString, variable);
    QFETCH(QByteArray, document);
    QFETCH(QString, refusal);
    QFETCH(QStringList, ids);
    QStringList log;
    const auto verifier = constructVerifier(allowDevelopmentKeys, document, log, variable);
    const QString logLine =
        refusal == "-"
            ? (allowDevelopmentKeys
                   ? "critical: development trusted key file could not be opened: " + variable
                   : QString())
        : refusal.isEmpty() ? "warning: development trusted keys loaded from {F}"
                            : "critical: development trusted key file rejected: " + refusal;
    QCOMPARE(log, logLine.isEmpty() ? QStringList() : QStringList{logLine});
    ids << kTestKeyId;
    ids.removeDuplicates();
    ids.sort();
    QCOMPARE(verifier->trustedKeyIds(), refusal.isEmpty() ? ids : QStringList{kTestKeyId});

    // "launcher-test-1" keeps the compiled-in key pair unless a document taken names it.
    const bool replaced = refusal.isEmpty() && document.contains("\"launcher-test-1\"");
    QByteArray payload;
    QString keyId;
    QString message;
    QCOMPARE(verifier->verifyEnvelope(signEnvelope("p"), payload, keyId, message), !replaced);
    QCOMPARE(verifier->verifyEnvelope(signEnvelope("p", {}, testsupport::untrustedSigningKey()),
                                      payload, keyId, message),
             replaced);
}

// The envelope rules of verifyEnvelope, against the compiled-in test key. Each refusal is tested
// with outputs holding stale values, as a caller's might.
void TestSigning::envelopeRules_data() {
    QTest::addColumn<QByteArray>("envelope");
    QTest::addColumn<QString>("refusal");  // empty: accepted
    QTest::addColumn<QString>("keyIdOut");
    QTest::addColumn<QByteArray>("payloadOut");
    // `keyId` is the key id handed out: empty while the key id test is not reached.
    const auto row = [](const char* name, const QByteArray& envelope, const QString& refusal = {},
                        const QString& keyId = kTestKeyId, const QByteArray& payload = kPayload) {
        QTest::newRow(name) << envelope << refusal << keyId
                            << (refusal.isEmpty() ? payload : QByteArray());
    };
    const QByteArray good = signEnvelope(kPayload);
    const QByteArray signature = testsupport::testSigningKey().sign(kPayload);
    const QString s = base64Url(signature);  // 86 characters
    const QByteArray largest(8388608, '\0');

    row("well-formed, other members ignored", signEnvelope(kPayload, {{"signedAt", 17}}));
    // The size is tested before anything else. JSON allows white space after the object.
    row("12 MiB", good + QByteArray(12582912 - good.size(), ' '));
    row("12 MiB and one byte", good + QByteArray(12582913 - good.size(), ' '), kSize, "");
    row("empty", "", kSize, "");
    row("not JSON", "signed", kNotJson, "");
    row("nested too deeply to parse", "{\"a\":" + QByteArray(100000, '['), kNotJson, "");
    // Version and algorithm, tested before the key id.
    row("version 2", signEnvelope(kPayload, {{"envelopeVersion", 2}, {"keyId", ""}}), kUnsupported,
        "");
    row("version 1.0 reads as 1",
        QByteArray(good).replace("\"envelopeVersion\":1", "\"envelopeVersion\":1.0"));
    row("algorithm in lower case", signEnvelope(kPayload, {{"algorithm", "ed25519"}}), kUnsupported,
        "");
    // Key id: trimmed, 1 to 100 code units, then looked up exactly, before the payload is read.
    row("key id trimmed, then found", signEnvelope(kPayload, {{"keyId", " launcher-test-1\t"}}));
    row("key id empty once trimmed", signEnvelope(kPayload, {{"keyId", " \n"}}), kKeyIdInvalid, "");
    row("key id of 101 code units is invalid, not unknown",
        signEnvelope(kPayload, {{"keyId", kId100 + 'k'}}), kKeyIdInvalid, kId100 + 'k');
    row("key id of 100 code units is looked up", signEnvelope(kPayload, {{"keyId", kId100}}),
        kUnknownKey.arg(kId100), kId100);
    row("key id in another case is unknown, payload empty",
        signEnvelope(kPayload, {{"keyId", "Launcher-Test-1"}, {"payload", ""}}),
        kUnknownKey.arg("Launcher-Test-1"), "Launcher-Test-1");
    // Payload and signature: strict base64url of 1 byte to 8 MiB, and of exactly 64 bytes.
    row("payload empty", signEnvelope(kPayload, {{"payload", ""}}), kMalformed);
    row("payload of 8 MiB", signEnvelope(largest), {}, kTestKeyId, largest);
    row("payload of 8 MiB and one byte, correctly signed", signEnvelope(largest + 'x'), kMalformed);
    row("signature of 63 bytes",
        signEnvelope(kPayload, {{"signature", base64Url(signature.left(63))}}), kMalformed);
    row("signature of 65 bytes",
        signEnvelope(kPayload, {{"signature", base64Url(signature + 'x')}}), kMalformed);
    // "-_-_" in base64url is "+/+/" in the standard alphabet: a decoder taking both accepts.
    const QByteArray dashes = QByteArray::fromHex("fbffbffbffbf");
    const QString d = base64Url(dashes);
    row("payload with \"+\"", signEnvelope(dashes, {{"payload", QString(d).replace('-', '+')}}),
        kMalformed);
    row("payload with \"/\"", signEnvelope(dashes, {{"payload", QString(d).replace('_', '/')}}),
        kMalformed);
    row("payload with an inner space",
        signEnvelope(dashes, {{"payload", d.left(4) + ' ' + d.mid(4)}}), kMalformed);
    row("payload with \"==\" inside",
        signEnvelope(dashes, {{"payload", d.left(4) + "==" + d.mid(4)}}), kMalformed);
    row("payload with a lone character after its last group",
        signEnvelope(dashes, {{"payload", d + 'A'}}), kMalformed);
    row("signature padded with \"==\"", signEnvelope(kPayload, {{"signature", s + "=="}}));
    row("signature with one \"=\", 87 characters", signEnvelope(kPayload, {{"signature", s + "="}}),
        kMalformed);
    // The signature covers exactly the decoded payload bytes.
    row("signature over the payload's base64url text",
        signEnvelope(kPayload, {{"signature", base64Url(testsupport::testSigningKey().sign(
                                                  base64Url(kPayload).toLatin1()))}}),
        kInvalid);
    // One bit flipped at either end of the payload, and in each half (R, S) of the signature.
    for (const int at : {0, 13, 14, 14 + 63}) {
        QByteArray bytes = kPayload + signature;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
        row(qPrintable(QString("bit flipped in byte %1 of payload and signature").arg(at)),
            signEnvelope(kPayload, {{"payload", base64Url(bytes.left(14))},
                                    {"signature", base64Url(bytes.mid(14))}}),
            kInvalid);
    }
}

void TestSigning::envelopeRules() {
    QFETCH(QByteArray, envelope);
    QFETCH(QString, refusal);
    QFETCH(QString, keyIdOut);
    QFETCH(QByteArray, payloadOut);
    const SignatureVerifier verifier(false);
    QByteArray payload = "stale";
    QString keyId = QStringLiteral("stale");
    QString message = QStringLiteral("untouched");
    QCOMPARE(verifier.verifyEnvelope(envelope, payload, keyId, message), refusal.isEmpty());
    QCOMPARE(message, refusal.isEmpty() ? QStringLiteral("untouched") : refusal);
    QCOMPARE(keyId, keyIdOut);
    QVERIFY(payload == payloadOut);
}

// Project Wycheproof's Ed25519 vectors (public test data, kept beside this file), each wrapped in
// an envelope with the vector's public key as the only development key. Each vector's own verdict
// is expected, except that a signed envelope never carries an empty payload.
void TestSigning::wycheproof_data() {
    QTest::addColumn<QByteArray>("publicKey");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QStringList>("refusals");  // empty: accepted; else any one of them
    QFile file(QStringLiteral(LU_WYCHEPROOF_ED25519_FILE));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable("vectors missing: " + file.fileName()));
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    const auto hex = [](const QJsonValue& value) {
        return QByteArray::fromHex(value.toString().toLatin1());
    };
    int count = 0;
    for (const QJsonValue group : root["testGroups"].toArray()) {
        for (const QJsonValue test : group["tests"].toArray()) {
            const bool valid = test["result"].toString() == QLatin1String("valid");
            const bool empty = test["msg"].toString().isEmpty();
            QTest::addRow("tcId %d %s", test["tcId"].toInt(),
                          qPrintable(test["comment"].toString()))
                << hex(group["publicKey"]["pk"]) << hex(test["msg"]) << hex(test["sig"])
                << (empty   ? QStringList{kMalformed}
                    : valid ? QStringList{}
                            : QStringList{kMalformed, kInvalid});
            ++count;
        }
    }
    QCOMPARE(count, 151);
}

void TestSigning::wycheproof() {
    QFETCH(QByteArray, publicKey);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, signature);
    QFETCH(QStringList, refusals);
    QStringList log;
    const auto verifier =
        constructVerifier(true, keyDocument({keyEntry("wycheproof", base64Url(publicKey))}), log);
    const QByteArray envelope =
        signEnvelope(message, {{"keyId", "wycheproof"}, {"signature", base64Url(signature)}});
    QByteArray payload = "stale";
    QString keyId;
    QString outcome;
    QCOMPARE(verifier->verifyEnvelope(envelope, payload, keyId, outcome), refusals.isEmpty());
    QVERIFY2(refusals.isEmpty() ? outcome.isEmpty() : refusals.contains(outcome),
             qPrintable(outcome));
    QCOMPARE(payload, refusals.isEmpty() ? message : QByteArray());
}

// The compiled-in trusted key document, seen from probe executables built with
// lu_add_trusted_keys_resource() the way LauncherUpdater is: the resource must be registered
// before main() and found at ":/config/trusted-keys.json".
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
        << "critical: trusted key configuration rejected: " + kKeyInvalid + "\n";
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

QTEST_GUILESS_MAIN(TestSigning)
#include "tst_signing.moc"
