#include <QtTest>

#include "error_text.h"
#include "native_path.h"
#include "tst_fileutil.h"

void TestFileUtil::windowsLongPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    const QString dir = QStringLiteral("C:\\") + QString(240, QLatin1Char('d'));  // 243 units
    // From 248 on, where CreateDirectoryW stops taking a path.
    QTest::newRow("247 unchanged") << dir + "\\123" << dir + "\\123";
    QTest::newRow("248 prefixed") << dir + "\\1234"
                                  << "\\\\?\\" + dir + "\\1234";
    QTest::newRow("long but relative: unchanged, left to the system")
        << QString(300, 'r') + "/x" << QString(300, 'r') + "\\x";
    QTest::newRow("long but drive-relative")
        << "C:" + QString(300, 'r') << "C:" + QString(300, 'r');
    QTest::newRow("forward slashes and dot segments cleaned first")
        << QString(dir).replace('\\', '/') + "/x/../y/./123456"
        << "\\\\?\\" + dir + "\\y\\123456";
    QTest::newRow("short path cleaned") << "C:/a//b/./c"
                                        << "C:\\a\\b\\c";
    const QString share = QStringLiteral("\\\\server\\share\\") + QString(250, 'u');
    QTest::newRow("UNC") << share << "\\\\?\\UNC\\" + share.mid(2);
    QTest::newRow("short UNC unchanged") << "\\\\server\\share\\x"
                                         << "\\\\server\\share\\x";
    const QString prefixed = QStringLiteral("\\\\?\\C:\\") + QString(300, 'p');
    QTest::newRow("already prefixed") << prefixed << prefixed;
}

void TestFileUtil::windowsLongPath() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(toWindowsLongPath(path), expected);
}

void TestFileUtil::nativePathRefusesNul() {
    QVERIFY(nativeFilePath(QStringLiteral("dir/file")) != platform::NativeString());
    QCOMPARE(nativeFilePath(QStringLiteral("dir/file") + QChar(0) + QStringLiteral("x")),
             platform::NativeString());
}

void TestFileUtil::errorTexts() {
    const QString path = QStringLiteral("C:/Games/x y/game.exe");
    QCOMPARE(windowsErrorText("Could not open", path, 2),
             "Could not open " + QDir::toNativeSeparators(path) + " (Windows error 2)");
    QCOMPARE(windowsErrorText("Could not read", path, 4294967295u),
             "Could not read " + QDir::toNativeSeparators(path) + " (Windows error 4294967295)");
    QCOMPARE(
        hashStepFailureText("provider", path, static_cast<std::int32_t>(0xC0000001u)),
        "SHA-256 provider failed for " + QDir::toNativeSeparators(path) + " (status 0xc0000001)");
    QCOMPARE(
        hashStepFailureText("update", path, 5),
        "SHA-256 update failed for " + QDir::toNativeSeparators(path) + " (status 0x00000005)");
}
