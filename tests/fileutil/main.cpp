#include <QtTest>

#include "tst_fileutil.h"

QTEST_GUILESS_MAIN(TestFileUtil)
