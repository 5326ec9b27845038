// Built once per trusted key document compiled in (and once with none). Prints the ids of the
// keys it trusts, comma-separated; what was wrong with the document goes to the log.
#include <QCoreApplication>
#include <QTextStream>

#include "signature_verifier.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream(stdout) << SignatureVerifier(false).trustedKeyIds().join(QLatin1Char(',')) << '\n';
}
