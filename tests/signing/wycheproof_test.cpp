// Project Wycheproof's Ed25519 vectors, each wrapped in an envelope and run through
// verifyEnvelope with the vector's public key as the only development key.
//
// The envelope's decoding check decides some vectors before the signature is looked at:
// - a signature that is not 64 bytes is "Signed envelope payload or signature is malformed.";
// - an empty message is an empty payload, malformed as well, even where Wycheproof calls the
//   signature valid.
// Every other vector reaches the signature check in OpenSSL: valid ones are accepted, invalid
// ones refused as "Signed envelope signature is invalid.". Each row's name says which applies.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTemporaryDir>
#include <QTest>

#include "log_capture.h"
#include "signature_verifier.h"
#include "signing_fixtures.h"
#include "signing_test_helpers.h"
#include "tst_signing.h"

namespace {

const QString kWycheproofFile = QStringLiteral(LU_WYCHEPROOF_ED25519_FILE);
constexpr int kVectorCount = 151;

struct Vector {
    int id;
    QString comment;
    QByteArray publicKey;
    QByteArray message;
    QByteArray signature;
    bool valid;
};

// The vectors of the file, or an empty list with `error` set.
QList<Vector> loadVectors(int& declaredCount, QString& error) {
    QFile file(kWycheproofFile);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Wycheproof vectors not found at %1").arg(kWycheproofFile);
        return {};
    }
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    declaredCount = root.value(QLatin1String("numberOfTests")).toInt(-1);
    QList<Vector> vectors;
    for (const QJsonValue& group : root.value(QLatin1String("testGroups")).toArray()) {
        const QByteArray publicKey = QByteArray::fromHex(
            group[QLatin1String("publicKey")][QLatin1String("pk")].toString().toLatin1());
        for (const QJsonValue& test : group[QLatin1String("tests")].toArray()) {
            vectors.append({test[QLatin1String("tcId")].toInt(),
                            test[QLatin1String("comment")].toString(), publicKey,
                            QByteArray::fromHex(test[QLatin1String("msg")].toString().toLatin1()),
                            QByteArray::fromHex(test[QLatin1String("sig")].toString().toLatin1()),
                            test[QLatin1String("result")].toString() == QLatin1String("valid")});
        }
    }
    return vectors;
}

}  // namespace

void TestSigning::wycheproofVectorCount() {
    int declared = 0;
    QString error;
    const QList<Vector> vectors = loadVectors(declared, error);
    if (!error.isEmpty()) {
        QSKIP(qPrintable(error));
    }
    QCOMPARE(declared, kVectorCount);
    QCOMPARE(vectors.size(), kVectorCount);
}

void TestSigning::wycheproof_data() {
    QTest::addColumn<QByteArray>("publicKey");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QString>("refusal");  // empty: accepted

    int declared = 0;
    QString error;
    const QList<Vector> vectors = loadVectors(declared, error);
    if (!error.isEmpty()) {
        QSKIP(qPrintable(error));
    }
    const QString malformed = QStringLiteral("Signed envelope payload or signature is malformed.");
    const QString invalid = QStringLiteral("Signed envelope signature is invalid.");
    for (const Vector& vector : vectors) {
        QString rule;
        QString refusal;
        if (vector.signature.size() != 64) {
            rule = QStringLiteral("signature not 64 bytes, malformed");
            refusal = malformed;
        } else if (vector.message.isEmpty()) {
            rule = QStringLiteral("empty payload, malformed");
            refusal = malformed;
        } else if (vector.valid) {
            rule = QStringLiteral("valid, accepted");
        } else {
            rule = QStringLiteral("signature does not verify, invalid");
            refusal = invalid;
        }
        QTest::addRow("tcId %d %s (%s)", vector.id, qPrintable(vector.comment), qPrintable(rule))
            << vector.publicKey << vector.message << vector.signature << refusal;
    }
}

void TestSigning::wycheproof() {
    QFETCH(QByteArray, publicKey);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, signature);
    QFETCH(QString, refusal);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString keyFile = dir.filePath(QStringLiteral("wycheproof-key.json"));
    QVERIFY(writeFile(keyFile, keyDocument(QStringLiteral("wycheproof"), publicKey)));
    qputenv(kDevelopmentKeysVariable, keyFile.toUtf8());
    testsupport::LogCapture log;
    const SignatureVerifier verifier(true);
    QCOMPARE(
        log.describe(),
        QStringList{QStringLiteral("warning: development trusted keys loaded from ") + keyFile});

    QJsonObject envelope;
    envelope.insert(QStringLiteral("envelopeVersion"), 1);
    envelope.insert(QStringLiteral("algorithm"), QStringLiteral("Ed25519"));
    envelope.insert(QStringLiteral("keyId"), QStringLiteral("wycheproof"));
    envelope.insert(QStringLiteral("payload"), testsupport::base64Url(message));
    envelope.insert(QStringLiteral("signature"), testsupport::base64Url(signature));

    QByteArray payload = "stale";
    QString keyId;
    QString outcome;
    const bool ok =
        verifier.verifyEnvelope(testsupport::envelopeBytes(envelope), payload, keyId, outcome);
    QCOMPARE(ok, refusal.isEmpty());
    QCOMPARE(outcome, refusal);
    QCOMPARE(payload, ok ? message : QByteArray());
    QCOMPARE(keyId, QStringLiteral("wycheproof"));
}
