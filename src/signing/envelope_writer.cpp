#include "envelope_writer.h"

#include <QJsonDocument>
#include <QJsonObject>

QByteArray composeSignedEnvelope(const QString& keyId, const QByteArray& payload,
                                 const QByteArray& signature) {
    const auto base64Url = [](const QByteArray& bytes) {
        return QString::fromLatin1(
            bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    };
    QJsonObject envelope;
    envelope.insert(QLatin1String("envelopeVersion"), 1);
    envelope.insert(QLatin1String("algorithm"), QLatin1String("Ed25519"));
    envelope.insert(QLatin1String("keyId"), keyId);
    envelope.insert(QLatin1String("payload"), base64Url(payload));
    envelope.insert(QLatin1String("signature"), base64Url(signature));
    return QJsonDocument(envelope).toJson(QJsonDocument::Indented);
}
