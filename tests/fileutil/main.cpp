#include <QtTest>

#include "atomic_file.h"
#include "tst_fileutil.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], kSaveChild) == 0) {
        return saveFileAtomically(QString::fromLocal8Bit(argv[2]), "new") ? 0 : 1;
    }
    TestFileUtil test;
    return QTest::qExec(&test, argc, argv);
}
