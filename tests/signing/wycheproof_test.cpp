// Project Wycheproof's Ed25519 vectors, each wrapped in an envelope and run through verifyEnvelope
// with the vector's public key as the only development key. The envelope's own checks decide some
// vectors before the signature is looked at: a signature that is not 64 bytes, and an empty
// message (an empty payload, even where Wycheproof calls the signature valid), are malformed.
// Every other vector reaches OpenSSL: valid ones are accepted, the others refused as invalid.
// Each row's name says which of these rules applies.
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include "signing_fixtures.h"
#include "tst_signing.h"

namespace {

QByteArray hex(const QJsonValue& value) {
    return QByteArray::fromHex(value.toString().toLatin1());
}

}  // namespace

void TestSigning::wycheproof_data() {
    QTest::addColumn<QByteArray>("publicKey");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QString>("refusal");  // empty: accepted

    QFile file(QStringLiteral(LU_WYCHEPROOF_ED25519_FILE));
    if (!file.open(QIODevice::ReadOnly)) {
        QSKIP(qPrintable("Wycheproof vectors not found at " + file.fileName() +
                         " (the shared/ checkout beside the repository is absent)"));
    }
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    int count = 0;
    for (const QJsonValue group : root["testGroups"].toArray()) {
        for (const QJsonValue test : group["tests"].toArray()) {
            const QByteArray message = hex(test["msg"]);
            const QByteArray signature = hex(test["sig"]);
            const bool valid = test["result"].toString() == QLatin1String("valid");
            const bool malformed = signature.size() != 64 || message.isEmpty();
            const char* rule = signature.size() != 64 ? "signature not 64 bytes: malformed"
                               : message.isEmpty()    ? "empty payload: malformed"
                               : valid                ? "valid: accepted"
                                                      : "does not verify: invalid";
            QTest::addRow("tcId %d %s (%s)", test["tcId"].toInt(),
                          qPrintable(test["comment"].toString()), rule)
                << hex(group["publicKey"]["pk"]) << message << signature
                << (malformed ? "Signed envelope payload or signature is malformed."
                    : valid   ? ""
                              : "Signed envelope signature is invalid.");
            ++count;
        }
    }
    QCOMPARE(root["numberOfTests"].toInt(), 151);
    QCOMPARE(count, 151);
}

void TestSigning::wycheproof() {
    QFETCH(QByteArray, publicKey);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, signature);
    QFETCH(QString, refusal);

    QTemporaryDir dir;
    const QString keyFile = dir.filePath(QStringLiteral("wycheproof-key.json"));
    QVERIFY(dir.isValid() &&
            testsupport::writeFile(
                keyFile, keyDocument({keyEntry("wycheproof", testsupport::base64Url(publicKey))})));
    QStringList log;
    const auto verifier = constructVerifier(true, keyFile, log);
    const QByteArray envelope = testsupport::signEnvelope(
        message, {{"keyId", "wycheproof"}, {"signature", testsupport::base64Url(signature)}});
    QByteArray payload = "stale";
    QString keyId;
    QString outcome;
    QCOMPARE(verifier->verifyEnvelope(envelope, payload, keyId, outcome), refusal.isEmpty());
    QCOMPARE(outcome, refusal);
    QCOMPARE(payload, refusal.isEmpty() ? message : QByteArray());
}
