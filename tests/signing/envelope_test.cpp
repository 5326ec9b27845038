// The envelope rules of SignatureVerifier::verifyEnvelope, against the compiled-in test key. Each
// refusal is tested with outputs holding stale values, as a caller's might.
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include "signing_fixtures.h"
#include "tst_signing.h"

using testsupport::base64Url;
using testsupport::signEnvelope;

namespace {

const QString kTestKeyId = QStringLiteral("launcher-test-1");
// Binary, so that a payload handed back as text or cut at a zero byte shows.
const QByteArray kPayload("\x00{\"files\":[]}\xff", 14);

const QString kSize = QStringLiteral("Signed envelope is empty or exceeds its size limit.");
const QString kNotJson = QStringLiteral("Signed envelope is not valid JSON.");
const QString kUnsupported =
    QStringLiteral("Signed envelope algorithm or version is not supported.");
const QString kKeyIdInvalid = QStringLiteral("Signed envelope key ID is invalid.");
const QString kUnknownKey = QStringLiteral("Signed envelope uses an unknown key: %1");
const QString kMalformed = QStringLiteral("Signed envelope payload or signature is malformed.");
const QString kInvalid = QStringLiteral("Signed envelope signature is invalid.");

void accepted(const char* name, const QByteArray& envelope, const QByteArray& payload = kPayload) {
    QTest::newRow(name) << envelope << QString() << kTestKeyId << payload;
}

// `keyId` is the key id handed out: empty while the key id test is not reached.
void refused(const char* name, const QByteArray& envelope, const QString& message,
             const QString& keyId = kTestKeyId) {
    QTest::newRow(name) << envelope << message << keyId << QByteArray();
}

}  // namespace

void TestSigning::envelopeRules_data() {
    QTest::addColumn<QByteArray>("envelope");
    QTest::addColumn<QString>("refusal");  // empty: accepted
    QTest::addColumn<QString>("keyIdOut");
    QTest::addColumn<QByteArray>("payloadOut");

    const QByteArray good = signEnvelope(kPayload);
    accepted("well-formed", good);
    accepted("other members ignored", signEnvelope(kPayload, {{"signedAt", 17}}));

    // The size is tested before anything else. JSON allows white space after the object.
    const QByteArray padded = good + QByteArray(12582912 - good.size(), ' ');
    accepted("12 MiB", padded);
    refused("12 MiB and one byte", padded + ' ', kSize, "");
    refused("empty", "", kSize, "");
    refused("not JSON", "signed", kNotJson, "");
    refused("JSON array", "[]", kNotJson, "");
    refused("nested too deeply to parse", "{\"a\":" + QByteArray(100000, '['), kNotJson, "");

    // Version and algorithm, tested before the key id.
    refused("version 2, key id empty",
            signEnvelope(kPayload, {{"envelopeVersion", 2}, {"keyId", ""}}), kUnsupported, "");
    refused("version \"1\"", signEnvelope(kPayload, {{"envelopeVersion", "1"}}), kUnsupported, "");
    accepted("version 1.0 reads as 1",
             QByteArray(good).replace("\"envelopeVersion\":1", "\"envelopeVersion\":1.0"));
    refused("algorithm in lower case", signEnvelope(kPayload, {{"algorithm", "ed25519"}}),
            kUnsupported, "");

    // Key id: trimmed, 1 to 100 code units, then looked up exactly, before the payload is read.
    accepted("key id trimmed, then found",
             signEnvelope(kPayload, {{"keyId", " launcher-test-1\t"}}));
    refused("key id empty once trimmed", signEnvelope(kPayload, {{"keyId", " \n"}}), kKeyIdInvalid,
            "");
    // Non-ASCII, so that a limit counted in bytes shows.
    const QString id100(100, QChar(0x00e9));
    refused("key id of 101 code units is invalid, not unknown",
            signEnvelope(kPayload, {{"keyId", id100 + 'k'}}), kKeyIdInvalid, id100 + 'k');
    refused("key id of 100 code units is looked up", signEnvelope(kPayload, {{"keyId", id100}}),
            kUnknownKey.arg(id100), id100);
    refused("key id in another case is unknown, payload empty",
            signEnvelope(kPayload, {{"keyId", "Launcher-Test-1"}, {"payload", ""}}),
            kUnknownKey.arg("Launcher-Test-1"), "Launcher-Test-1");

    // Payload and signature: strict base64url of 1 byte to 8 MiB, and of exactly 64 bytes.
    refused("payload empty", signEnvelope(kPayload, {{"payload", ""}}), kMalformed);
    // "-_-_" in base64url is "+/+/" in the standard alphabet: a decoder taking both accepts.
    const QByteArray dashes = QByteArray::fromHex("fbffbffbffbf");
    refused("payload with \"+\"",
            signEnvelope(dashes, {{"payload", base64Url(dashes).replace('-', '+')}}), kMalformed);
    refused("payload with \"/\"",
            signEnvelope(dashes, {{"payload", base64Url(dashes).replace('_', '/')}}), kMalformed);
    refused("payload with a lone character after its last group",
            signEnvelope(dashes, {{"payload", base64Url(dashes) + 'A'}}), kMalformed);
    const QByteArray largest(8388608, '\0');
    accepted("payload of 8 MiB", signEnvelope(largest), largest);
    refused("payload of 8 MiB and one byte, correctly signed", signEnvelope(largest + 'x'),
            kMalformed);
    const QByteArray signature = testsupport::testSigningKey().sign(kPayload);
    refused("signature of 63 bytes",
            signEnvelope(kPayload, {{"signature", base64Url(signature.left(63))}}), kMalformed);
    refused("signature of 65 bytes",
            signEnvelope(kPayload, {{"signature", base64Url(signature + 'x')}}), kMalformed);
    accepted("signature padded with \"==\"",
             signEnvelope(kPayload, {{"signature", base64Url(signature) + "=="}}));
    refused("signature with one \"=\", 87 characters",
            signEnvelope(kPayload, {{"signature", base64Url(signature) + "="}}), kMalformed);

    // The signature covers exactly the decoded payload bytes.
    refused("signature over the payload's base64url text",
            signEnvelope(kPayload, {{"signature", base64Url(testsupport::testSigningKey().sign(
                                                      base64Url(kPayload).toLatin1()))}}),
            kInvalid);
    // One bit flipped at either end of the payload, and in each half (R, S) of the signature.
    const struct {
        const char* name;
        int payloadByte;  // -1: the flip is in the signature
        int signatureByte;
    } flips[] = {{"payload first byte", 0, -1},
                 {"payload last byte", int(kPayload.size()) - 1, -1},
                 {"signature R", -1, 0},
                 {"signature S", -1, 63}};
    for (const auto& flip : flips) {
        QByteArray payload = kPayload;
        QByteArray flipped = signature;
        QByteArray& bytes = flip.payloadByte >= 0 ? payload : flipped;
        const int at = flip.payloadByte >= 0 ? flip.payloadByte : flip.signatureByte;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
        refused(flip.name,
                signEnvelope(kPayload,
                             {{"payload", base64Url(payload)}, {"signature", base64Url(flipped)}}),
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

namespace {

// Marks the texts of the verifier's context, to show which are translated and that the key id is
// put in after translation.
class MarkingTranslator : public QTranslator {
public:
    QString translate(const char* context, const char* text, const char*, int) const override {
        return qstrcmp(context, "SignatureVerifier") == 0 ? "[t] " + QString::fromUtf8(text)
                                                          : QString();
    }
    bool isEmpty() const override { return false; }
};

}  // namespace

void TestSigning::messagesAreTranslated() {
    MarkingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    const auto remove = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });

    // The reason a document is refused for is translated; the log line around it is not.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("dev.json"));
    QVERIFY(dir.isValid() && testsupport::writeFile(file, "not json"));
    QStringList log;
    const auto verifier = constructVerifier(true, file, log);
    QCOMPARE(log, QStringList{"critical: development trusted key file rejected: [t] Trusted key "
                              "document is not valid JSON."});

    QByteArray payload;
    QString keyId;
    QString message;
    QVERIFY(!verifier->verifyEnvelope(signEnvelope(kPayload, {{"keyId", "a%1b"}}), payload, keyId,
                                      message));
    QCOMPARE(message, QStringLiteral("[t] Signed envelope uses an unknown key: a%1b"));
}
