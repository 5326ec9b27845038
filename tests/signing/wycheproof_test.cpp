// Project Wycheproof's Ed25519 vectors (public test data, kept beside this file), each wrapped in
// an envelope and run through verifyEnvelope with the vector's public key as the only development
// key. Each vector's own verdict is expected, except where the envelope format refuses what the
// vector accepts: a signed envelope never carries an empty payload.
#include <QFile>
#include <QJsonDocument>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include "signing_fixtures.h"
#include "tst_signing.h"

namespace {

QByteArray hex(const QJsonValue& value) {
    return QByteArray::fromHex(value.toString().toLatin1());
}

const QString kMalformed = QStringLiteral("Signed envelope payload or signature is malformed.");
const QString kInvalid = QStringLiteral("Signed envelope signature is invalid.");

}  // namespace

void TestSigning::wycheproof_data() {
    QTest::addColumn<QByteArray>("publicKey");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QStringList>("refusals");  // empty: accepted; else any one of them

    QFile file(QStringLiteral(LU_WYCHEPROOF_ED25519_FILE));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable("vectors missing: " + file.fileName()));
    // Valid signatures over an empty message.
    const QSet<int> emptyPayloads = {1, 71, 80, 102};
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    int count = 0;
    for (const QJsonValue group : root["testGroups"].toArray()) {
        for (const QJsonValue test : group["tests"].toArray()) {
            const int id = test["tcId"].toInt();
            const bool valid = test["result"].toString() == QLatin1String("valid");
            const QStringList refusals = emptyPayloads.contains(id) ? QStringList{kMalformed}
                                         : valid                    ? QStringList{}
                                                 : QStringList{kMalformed, kInvalid};
            QTest::addRow("tcId %d %s%s", id, qPrintable(test["comment"].toString()),
                          emptyPayloads.contains(id) ? " (empty payload: malformed)" : "")
                << hex(group["publicKey"]["pk"]) << hex(test["msg"]) << hex(test["sig"])
                << refusals;
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
    QFETCH(QStringList, refusals);

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
    QCOMPARE(verifier->verifyEnvelope(envelope, payload, keyId, outcome), refusals.isEmpty());
    QVERIFY2(refusals.isEmpty() ? outcome.isEmpty() : refusals.contains(outcome),
             qPrintable(outcome));
    QCOMPARE(payload, refusals.isEmpty() ? message : QByteArray());
}
