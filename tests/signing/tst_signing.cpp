#include "tst_signing.h"

#include <QDir>
#include <QTest>

#include "signing_test_helpers.h"

namespace {
QString initialWorkingDirectory;
}

// Each test starts with no development key file named and in the directory the run began in.
void TestSigning::init() {
    qunsetenv(kDevelopmentKeysVariable);
    if (initialWorkingDirectory.isEmpty()) {
        initialWorkingDirectory = QDir::currentPath();
    }
}

void TestSigning::cleanup() {
    qunsetenv(kDevelopmentKeysVariable);
    QDir::setCurrent(initialWorkingDirectory);
}

QTEST_GUILESS_MAIN(TestSigning)
