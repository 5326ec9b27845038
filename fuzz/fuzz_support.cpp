#include "fuzz_support.h"

#include <QFile>
#include <QSet>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>

#include "path_rules.h"
#include "signature_verifier.h"

namespace fuzz {

// Every target links this file: its log lines go before the first input is read.
[[maybe_unused]] const bool logSilenced = [] {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return true;
}();

const SignatureVerifier& testVerifier() {
    static const std::unique_ptr<SignatureVerifier> verifier = [] {
        QFile document(QStringLiteral(LU_TEST_TRUSTED_KEYS));
        std::unique_ptr<SignatureVerifier> made;
        QString message;
        if (!document.open(QIODevice::ReadOnly) ||
            !SignatureVerifier::fromTrustedKeyDocument(document.readAll(), made, message)) {
            fail("the tests' trusted key document could not be read");
        }
        return made;
    }();
    return *verifier;
}

void checkInventory(const QList<ManifestFile>& files, qint64 maxTotal) {
    QSet<QString> folded;
    qint64 total = 0;
    for (const ManifestFile& file : files) {
        total += file.size;
        if (!isSafeRelativePath(file.path) || file.size < 0 || total > maxTotal ||
            file.sha256.size() != 32 || folded.contains(file.path.toCaseFolded())) {
            fail("an accepted inventory holds a file outside the rules");
        }
        folded.insert(file.path.toCaseFolded());
    }
    if (files.isEmpty() || files.size() > 20000) {
        fail("an accepted inventory is empty or too long");
    }
}

void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

}  // namespace fuzz
