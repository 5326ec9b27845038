// The envelope rules of SignatureVerifier::verifyEnvelope, against the compiled-in test key.
#include <QJsonObject>
#include <QJsonValue>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include "log_capture.h"
#include "signature_verifier.h"
#include "signing_fixtures.h"
#include "signing_test_helpers.h"
#include "tst_signing.h"

using testsupport::base64Url;
using testsupport::envelopeBytes;
using testsupport::signedEnvelopeObject;
using testsupport::testSigningKey;

namespace {

const QString kTestKeyId = QStringLiteral("launcher-test-1");
const QByteArray kPayload = R"({"schemaVersion":1,"files":[]})";

const QString kSize = QStringLiteral("Signed envelope is empty or exceeds its size limit.");
const QString kNotJson = QStringLiteral("Signed envelope is not valid JSON.");
const QString kUnsupported =
    QStringLiteral("Signed envelope algorithm or version is not supported.");
const QString kKeyIdInvalid = QStringLiteral("Signed envelope key ID is invalid.");
const QString kUnknownKey = QStringLiteral("Signed envelope uses an unknown key: %1");
const QString kMalformed = QStringLiteral("Signed envelope payload or signature is malformed.");
const QString kInvalid = QStringLiteral("Signed envelope signature is invalid.");

// A correctly signed envelope of `payload` with one member replaced, or removed when `value`
// is undefined.
QByteArray envelopeWith(const QString& member, const QJsonValue& value,
                        const QByteArray& payload = kPayload) {
    QJsonObject envelope = signedEnvelopeObject(payload);
    if (value.isUndefined()) {
        envelope.remove(member);
    } else {
        envelope.insert(member, value);
    }
    return envelopeBytes(envelope);
}

QString signatureText(const QByteArray& payload = kPayload) {
    return base64Url(testSigningKey().sign(payload));
}

void accepted(const char* name, const QByteArray& envelope, const QByteArray& payload = kPayload,
              const QString& keyId = kTestKeyId) {
    QTest::newRow(name) << envelope << QString() << keyId << payload;
}

void refused(const char* name, const QByteArray& envelope, const QString& message,
             const QString& keyId = kTestKeyId) {
    QTest::newRow(name) << envelope << message << keyId << QByteArray();
}

struct Outcome {
    bool ok;
    QByteArray payload;
    QString keyId;
    QString message;
};

// Runs one verification with outputs that hold stale values, as a caller's might.
Outcome verify(const SignatureVerifier& verifier, const QByteArray& envelope) {
    Outcome outcome{false, "stale payload", QStringLiteral("stale key"),
                    QStringLiteral("untouched")};
    outcome.ok = verifier.verifyEnvelope(envelope, outcome.payload, outcome.keyId, outcome.message);
    return outcome;
}

}  // namespace

void TestSigning::envelopeRules_data() {
    QTest::addColumn<QByteArray>("envelope");
    QTest::addColumn<QString>("refusal");  // empty: accepted
    QTest::addColumn<QString>("keyIdOut");
    QTest::addColumn<QByteArray>("payloadOut");

    const QByteArray good = envelopeBytes(signedEnvelopeObject(kPayload));
    accepted("well-formed", good);

    // Size, then JSON.
    refused("empty", "", kSize, QString());
    refused("not JSON", "signed", kNotJson, QString());
    refused("JSON array", "[]", kNotJson, QString());
    refused("garbage after the object", good + "x", kNotJson, QString());
    refused("nested too deeply to parse", "{\"a\":" + QByteArray(100000, '['), kNotJson, QString());

    // Version and algorithm, before anything about the key.
    refused("version missing", envelopeWith("envelopeVersion", QJsonValue()), kUnsupported,
            QString());
    refused("version 2", envelopeWith("envelopeVersion", 2), kUnsupported, QString());
    refused("version \"1\"", envelopeWith("envelopeVersion", "1"), kUnsupported, QString());
    refused("version 1.5", envelopeWith("envelopeVersion", 1.5), kUnsupported, QString());
    refused("version 2^32+1 does not wrap to 1",
            QByteArray(good).replace("\"envelopeVersion\":1", "\"envelopeVersion\":4294967297"),
            kUnsupported, QString());
    accepted("version 1.0 reads as 1",
             QByteArray(good).replace("\"envelopeVersion\":1", "\"envelopeVersion\":1.0"));
    refused("algorithm lower case", envelopeWith("algorithm", "ed25519"), kUnsupported, QString());
    refused("algorithm upper case", envelopeWith("algorithm", "ED25519"), kUnsupported, QString());
    refused("algorithm with a space", envelopeWith("algorithm", "Ed25519 "), kUnsupported,
            QString());
    refused("algorithm missing", envelopeWith("algorithm", QJsonValue()), kUnsupported, QString());
    QJsonObject unsupportedAndNoKey = signedEnvelopeObject(kPayload);
    unsupportedAndNoKey.insert("envelopeVersion", 2);
    unsupportedAndNoKey.insert("keyId", "");
    refused("version tested before key id", envelopeBytes(unsupportedAndNoKey), kUnsupported,
            QString());

    // Key id: trimmed, 1 to 100 code units, then looked up exactly.
    refused("key id missing", envelopeWith("keyId", QJsonValue()), kKeyIdInvalid, QString());
    refused("key id empty", envelopeWith("keyId", ""), kKeyIdInvalid, QString());
    refused("key id only white space", envelopeWith("keyId", " \t\n"), kKeyIdInvalid, QString());
    const QString id101(101, QLatin1Char('k'));
    refused("key id of 101 code units is invalid, not unknown", envelopeWith("keyId", id101),
            kKeyIdInvalid, id101);
    const QString id100(100, QLatin1Char('k'));
    refused("key id of 100 code units is looked up", envelopeWith("keyId", id100),
            kUnknownKey.arg(id100), id100);
    accepted("key id trimmed, then found", envelopeWith("keyId", " launcher-test-1\t"));
    refused("key id in another case", envelopeWith("keyId", "Launcher-Test-1"),
            kUnknownKey.arg("Launcher-Test-1"), "Launcher-Test-1");
    refused("key id not trusted", envelopeWith("keyId", "launcher-prod-1"),
            kUnknownKey.arg("launcher-prod-1"), "launcher-prod-1");
    QJsonObject unknownAndMalformed = signedEnvelopeObject(kPayload);
    unknownAndMalformed.insert("keyId", "other");
    unknownAndMalformed.insert("payload", "");
    refused("key tested before payload", envelopeBytes(unknownAndMalformed),
            kUnknownKey.arg("other"), "other");

    // Payload: strict base64url of 1 to 8 MiB.
    const QString payloadText = base64Url(kPayload);
    refused("payload empty", envelopeWith("payload", ""), kMalformed);
    refused("payload missing", envelopeWith("payload", QJsonValue()), kMalformed);
    // 0xfb 0xff 0xbf is "-_-_" in base64url and "+/+/" in the standard alphabet; a decoder that
    // took either alphabet would hand back the signed bytes and accept.
    const QByteArray dashes = QByteArray::fromHex("fbffbffbffbf");
    QVERIFY(base64Url(dashes) == QLatin1String("-_-_-_-_"));
    refused("payload with \"+\"",
            envelopeWith("payload", base64Url(dashes).replace('-', '+'), dashes), kMalformed);
    refused("payload with \"/\"",
            envelopeWith("payload", base64Url(dashes).replace('_', '/'), dashes), kMalformed);
    refused("payload with inner space",
            envelopeWith("payload", payloadText.left(8) + ' ' + payloadText.mid(8)), kMalformed);
    refused("payload with a trailing newline", envelopeWith("payload", payloadText + '\n'),
            kMalformed);
    // "manifest": 11 characters unpadded, 12 with one "=".
    const QByteArray manifest = "manifest";
    const QString manifestText = base64Url(manifest);
    QCOMPARE(manifestText.size(), 11);
    accepted("payload padded", envelopeWith("payload", manifestText + '=', manifest), manifest);
    refused("payload with one \"=\" too many",
            envelopeWith("payload", manifestText + "==", manifest), kMalformed);
    refused("payload with \"=\" inside",
            envelopeWith("payload", manifestText.left(4) + '=' + manifestText.mid(4), manifest),
            kMalformed);
    refused("payload padded twice",
            envelopeWith("payload", manifestText + '=' + base64Url("x") + "==", manifest),
            kMalformed);
    const QByteArray binary("\x00\xff{not json\n\x00", 13);
    accepted("payload returned exactly, not parsed", envelopeBytes(signedEnvelopeObject(binary)),
             binary);

    // Signature: strict base64url of exactly 64 bytes.
    const QByteArray signature = testSigningKey().sign(kPayload);
    const QString sigText = base64Url(signature);
    refused("signature empty", envelopeWith("signature", ""), kMalformed);
    refused("signature of 63 bytes", envelopeWith("signature", base64Url(signature.left(63))),
            kMalformed);
    refused("signature of 65 bytes",
            envelopeWith("signature", base64Url(signature + QByteArray(1, '\0'))), kMalformed);
    refused("signature as hex", envelopeWith("signature", QString::fromLatin1(signature.toHex())),
            kMalformed);
    refused("signature with \"+\"", envelopeWith("signature", "+" + sigText.mid(1)), kMalformed);
    refused("signature with \"/\"", envelopeWith("signature", "/" + sigText.mid(1)), kMalformed);
    refused("signature with inner space",
            envelopeWith("signature", sigText.left(40) + ' ' + sigText.mid(40)), kMalformed);
    accepted("signature padded", envelopeWith("signature", sigText + "=="));
    refused("signature with one \"=\"", envelopeWith("signature", sigText + "="), kMalformed);

    // The signature must verify over exactly the decoded payload.
    refused("signed by another key under the trusted id",
            envelopeBytes(signedEnvelopeObject(kPayload, testsupport::untrustedSigningKey())),
            kInvalid);
    refused("signature over the payload's base64 text",
            envelopeWith("signature", base64Url(testSigningKey().sign(payloadText.toLatin1()))),
            kInvalid);
    refused("signature of another payload", envelopeWith("signature", signatureText("other")),
            kInvalid);
    refused("signature all zero", envelopeWith("signature", base64Url(QByteArray(64, '\0'))),
            kInvalid);
    refused("payload swapped, signature kept", envelopeWith("payload", base64Url("other")),
            kInvalid);

    QJsonObject extra = signedEnvelopeObject(kPayload);
    extra.insert("comment", "ignored");
    extra.insert("signedAt", 17);
    accepted("other members ignored", envelopeBytes(extra));
}

void TestSigning::envelopeRules() {
    QFETCH(QByteArray, envelope);
    QFETCH(QString, refusal);
    QFETCH(QString, keyIdOut);
    QFETCH(QByteArray, payloadOut);

    const SignatureVerifier verifier(false);
    const Outcome outcome = verify(verifier, envelope);
    QCOMPARE(outcome.ok, refusal.isEmpty());
    QCOMPARE(outcome.message, refusal.isEmpty() ? QStringLiteral("untouched") : refusal);
    QCOMPARE(outcome.keyId, keyIdOut);
    QCOMPARE(outcome.payload, payloadOut);
}

void TestSigning::envelopeSizeBoundary_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("signedEnvelope");  // else the bytes are not JSON at all
    QTest::addColumn<QString>("refusal");

    QTest::newRow("12,582,912 bytes, signed") << qint64(12582912) << true << QString();
    QTest::newRow("12,582,913 bytes, signed") << qint64(12582913) << true << kSize;
    QTest::newRow("12,582,912 bytes, not JSON") << qint64(12582912) << false << kNotJson;
    QTest::newRow("12,582,913 bytes, not JSON") << qint64(12582913) << false << kSize;
}

void TestSigning::envelopeSizeBoundary() {
    QFETCH(qint64, size);
    QFETCH(bool, signedEnvelope);
    QFETCH(QString, refusal);

    // A signed envelope is filled up with white space after the object, which JSON allows.
    QByteArray envelope = signedEnvelope ? testsupport::signEnvelope(kPayload) : QByteArray();
    envelope.append(QByteArray(size - envelope.size(), signedEnvelope ? ' ' : 'x'));
    QCOMPARE(envelope.size(), size);

    const SignatureVerifier verifier(false);
    const Outcome outcome = verify(verifier, envelope);
    QCOMPARE(outcome.ok, refusal.isEmpty());
    QCOMPARE(outcome.message, refusal.isEmpty() ? QStringLiteral("untouched") : refusal);
    QCOMPARE(outcome.payload, refusal.isEmpty() ? kPayload : QByteArray());
}

void TestSigning::payloadSizeBoundary_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("refusal");

    QTest::newRow("1 byte") << qint64(1) << QString();
    QTest::newRow("8,388,608 bytes") << qint64(8388608) << QString();
    QTest::newRow("8,388,609 bytes, correctly signed") << qint64(8388609) << kMalformed;
}

void TestSigning::payloadSizeBoundary() {
    QFETCH(qint64, size);
    QFETCH(QString, refusal);

    QByteArray payload(size, '\0');
    for (qint64 i = 0; i < size; ++i) {
        payload[i] = static_cast<char>((i * 131) % 251);
    }
    const QByteArray envelope = testsupport::signEnvelope(payload);
    QVERIFY(envelope.size() <= SignatureVerifier::kMaxEnvelopeBytes);

    const SignatureVerifier verifier(false);
    const Outcome outcome = verify(verifier, envelope);
    QCOMPARE(outcome.ok, refusal.isEmpty());
    QCOMPARE(outcome.message, refusal.isEmpty() ? QStringLiteral("untouched") : refusal);
    QVERIFY(outcome.payload == (refusal.isEmpty() ? payload : QByteArray()));
}

void TestSigning::everyFlippedBitIsRefused_data() {
    QTest::addColumn<QString>("member");
    QTest::newRow("payload") << QStringLiteral("payload");
    QTest::newRow("signature") << QStringLiteral("signature");
}

void TestSigning::everyFlippedBitIsRefused() {
    QFETCH(QString, member);

    const SignatureVerifier verifier(false);
    const QByteArray original =
        member == QLatin1String("payload") ? kPayload : testSigningKey().sign(kPayload);
    for (int bit = 0; bit < original.size() * 8; ++bit) {
        QByteArray changed = original;
        changed[bit / 8] = static_cast<char>(changed[bit / 8] ^ (1 << (bit % 8)));
        QJsonObject envelope = signedEnvelopeObject(kPayload);
        envelope.insert(member, base64Url(changed));
        const Outcome outcome = verify(verifier, envelopeBytes(envelope));
        QVERIFY2(!outcome.ok && outcome.message == kInvalid && outcome.payload.isEmpty(),
                 qPrintable(QStringLiteral("bit %1: %2").arg(bit).arg(outcome.message)));
    }
}

void TestSigning::everyTruncationIsRefused() {
    const SignatureVerifier verifier(false);
    const QByteArray envelope = testsupport::signEnvelope(kPayload);
    for (int length = 0; length < envelope.size(); ++length) {
        const Outcome outcome = verify(verifier, envelope.left(length));
        const QString expected = length == 0 ? kSize : kNotJson;
        QVERIFY2(!outcome.ok && outcome.message == expected && outcome.payload.isEmpty() &&
                     outcome.keyId.isEmpty(),
                 qPrintable(QStringLiteral("%1 bytes: %2").arg(length).arg(outcome.message)));
    }
}

namespace {

// Marks every text of the verifier's context, so that a test sees which texts were translated
// and that placeholders are filled after translation.
class MarkingTranslator : public QTranslator {
public:
    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (qstrcmp(context, "SignatureVerifier") != 0) {
            return QString();
        }
        return QStringLiteral("[t] ") + QString::fromUtf8(sourceText);
    }
    bool isEmpty() const override { return false; }
};

}  // namespace

void TestSigning::messagesAreTranslatedInTheirContext() {
    MarkingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    const auto removeTranslator =
        qScopeGuard([&translator] { QCoreApplication::removeTranslator(&translator); });

    // A development document refused: the reason is translated, the log line around it is not.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dev.json"));
    QVERIFY(writeFile(path, "not json"));
    qputenv(kDevelopmentKeysVariable, path.toUtf8());
    testsupport::LogCapture log;
    const SignatureVerifier verifier(true);
    QCOMPARE(log.describe(), QStringList{"critical: development trusted key file rejected: [t] "
                                         "Trusted key document is not valid JSON."});

    // A key id that looks like a placeholder stays as it is.
    Outcome outcome = verify(verifier, envelopeWith("keyId", "a%1b"));
    QCOMPARE(outcome.message, QStringLiteral("[t] Signed envelope uses an unknown key: a%1b"));
    outcome = verify(verifier, envelopeWith("signature", ""));
    QCOMPARE(outcome.message,
             QStringLiteral("[t] Signed envelope payload or signature is malformed."));
}
