#include <QtTest>

#include "path_rules.h"
#include "tst_fileutil.h"

namespace {

// A path of `length` code units made of valid 9-character segments.
QString pathOfLength(int length) {
    QString path;
    while (path.size() < length) {
        path += path.isEmpty() ? QStringLiteral("abcdefghi") : QStringLiteral("/abcdefgh");
    }
    return path.left(length);
}

}  // namespace

void TestFileUtil::safeRelativePath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("safe");

    QTest::newRow("plain") << "bin/game.exe" << true;
    QTest::newRow("dot-prefixed segment") << ".hidden/x" << true;
    QTest::newRow("inner spaces") << "a b/c d.txt" << true;
    QTest::newRow("leading space") << " a/b" << true;
    QTest::newRow("odd characters") << "a?b/c*d/<e>|f\"g\x01" << true;
    QTest::newRow("COM10") << "COM10" << true;
    QTest::newRow("LPT0") << "dir/LPT0.txt" << true;
    QTest::newRow("console.txt") << "console.txt" << true;
    QTest::newRow(".con (empty base)") << ".con" << true;
    QTest::newRow("space before a reserved name") << " con.txt" << true;
    QTest::newRow("COM4 superscript") << "COM\u2074" << true;
    QTest::newRow("1024 code units") << pathOfLength(1024) << true;

    QTest::newRow("empty") << "" << false;
    QTest::newRow("1025 code units") << pathOfLength(1025) << false;
    QTest::newRow("backslash") << "bin\\game.exe" << false;
    QTest::newRow("leading slash") << "/bin/game.exe" << false;
    QTest::newRow("drive letter") << "C:game.exe" << false;
    QTest::newRow("stream name") << "bin/game.exe:evil" << false;
    QTest::newRow("doubled slash") << "bin//game.exe" << false;
    QTest::newRow("trailing slash") << "bin/" << false;
    QTest::newRow("leading ./") << "./bin" << false;
    QTest::newRow("inner /./") << "bin/./game.exe" << false;
    QTest::newRow("inner /../") << "bin/../game.exe" << false;
    QTest::newRow("trailing /..") << "bin/.." << false;
    QTest::newRow("dot only") << "." << false;
    QTest::newRow("leading ../") << "../bin" << false;
    QTest::newRow("con") << "con" << false;
    QTest::newRow("Con.txt") << "Con.txt" << false;
    QTest::newRow("nul.tar.gz") << "nul.tar.gz" << false;
    QTest::newRow("lpt9.log in a directory") << "logs/lpt9.log" << false;
    QTest::newRow("com1 as a directory") << "com1/x" << false;
    QTest::newRow("AUX. (reserved and trailing dot)") << "AUX." << false;
    QTest::newRow("con .txt") << "con .txt" << false;
    QTest::newRow("COM1  .log as a directory") << "COM1  .log/x" << false;
    QTest::newRow("CONIN$") << "CONIN$" << false;
    QTest::newRow("conout$.txt") << "conout$.txt" << false;
    QTest::newRow("com superscript one") << "com\u00b9" << false;
    QTest::newRow("LPT superscript three .txt") << "a/LPT\u00b3.txt" << false;
    QTest::newRow("NUL character at the end") << QStringLiteral("bin/game.dat") + QChar(0) << false;
    QTest::newRow("NUL character after a device name")
        << QStringLiteral("con") + QChar(0) + QStringLiteral("x") << false;
    QTest::newRow("segment ends in a space") << "a /b" << false;
    QTest::newRow("last segment ends in a space") << "a/b " << false;
    QTest::newRow("segment ends in a dot") << "a./b" << false;
}

void TestFileUtil::safeRelativePath() {
    QFETCH(QString, path);
    QFETCH(bool, safe);
    QCOMPARE(isSafeRelativePath(path), safe);
}
