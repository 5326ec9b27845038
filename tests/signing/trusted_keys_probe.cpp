// Built once per trusted key document compiled in (and once with none). Prints "keys: <ids>",
// then "accepted <key id>: <payload>" or "refused: <message>" for the envelope file it is given.
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include "signature_verifier.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const SignatureVerifier verifier(false);
    QTextStream out(stdout);
    out << "keys: " << verifier.trustedKeyIds().join(QLatin1Char(',')) << '\n';
    QFile envelope(QCoreApplication::arguments().value(1));
    if (!envelope.open(QIODevice::ReadOnly)) {
        return 1;
    }
    QByteArray payload;
    QString keyId;
    QString message;
    if (verifier.verifyEnvelope(envelope.readAll(), payload, keyId, message)) {
        out << "accepted " << keyId << ": " << payload << '\n';
    } else {
        out << "refused: " << message << '\n';
    }
    return 0;
}
