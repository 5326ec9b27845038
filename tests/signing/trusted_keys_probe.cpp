// Built several times, each time with another trusted key document compiled in (or none), to
// show what SignatureVerifier finds in an executable built that way. Prints "keys: <ids>" and,
// given an envelope file, "accepted <key id>: <payload>" or "refused: <message>".
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include "signature_verifier.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const SignatureVerifier verifier(false);
    QTextStream out(stdout);
    out << "keys: " << verifier.trustedKeyIds().join(QLatin1Char(',')) << '\n';

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        return 0;
    }
    QFile envelope(arguments.at(1));
    if (!envelope.open(QIODevice::ReadOnly)) {
        out << "cannot read " << arguments.at(1) << '\n';
        return 1;
    }
    QByteArray payload;
    QString keyId;
    QString message;
    if (verifier.verifyEnvelope(envelope.readAll(), payload, keyId, message)) {
        out << "accepted " << keyId << ": " << QString::fromUtf8(payload) << '\n';
    } else {
        out << "refused: " << message << '\n';
    }
    return 0;
}
