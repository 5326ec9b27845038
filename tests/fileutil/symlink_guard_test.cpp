#include <QtTest>

#include "symlink_guard.h"
#include "tst_fileutil.h"

// The tree under test is root/a/b/file.txt. Column `link` names the entry that is replaced by a
// symbolic link ("" for none): "root" ("root/": the root is named with a trailing separator),
// "a", "a/b" or "a/b/file.txt"; `dangling` points that link at nothing.
void TestFileUtil::symbolicLinkAlong_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("dangling");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("found");

    QTest::newRow("no link") << "" << false << "a/b/file.txt" << false;
    QTest::newRow("missing tail") << "" << false << "a/b/new/dir/file.txt" << false;
    QTest::newRow("root is a link") << "root" << false << "a/b/file.txt" << true;
    QTest::newRow("root is a link named with a trailing separator")
        << "root/" << false << "a/b/file.txt" << true;
    QTest::newRow("NUL cannot be examined")
        << "" << false << QStringLiteral("a/b/file.txt") + QChar(0) << true;
    QTest::newRow("first directory") << "a" << false << "a/b/file.txt" << true;
    QTest::newRow("middle directory") << "a/b" << false << "a/b/file.txt" << true;
    QTest::newRow("final file") << "a/b/file.txt" << false << "a/b/file.txt" << true;
    QTest::newRow("link below a missing tail") << "a/b" << false << "a/b/new/file.txt" << true;
    QTest::newRow("dangling root") << "root" << true << "a/b/file.txt" << true;
    QTest::newRow("dangling middle directory") << "a/b" << true << "a/b/file.txt" << true;
    QTest::newRow("dangling final file") << "a/b/file.txt" << true << "a/b/file.txt" << true;
    QTest::newRow("link beside the path") << "a/b/file.txt" << false << "a/other.txt" << false;
}

void TestFileUtil::symbolicLinkAlong() {
    QFETCH(QString, link);
    QFETCH(bool, dangling);
    QFETCH(QString, relative);
    QFETCH(bool, found);
#ifdef Q_OS_WIN
    // QFile::link makes .lnk shortcuts there, and Wine shows Unix links as plain entries.
    QSKIP("symbolic links cannot be made here; the link cases run on Linux");
#endif

    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real"));
    QVERIFY(QDir().mkpath(real + "/a/b"));
    QFile file(real + "/a/b/file.txt");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    // The tree is copied to "root", with the chosen entry replaced by a link to its real twin.
    const QString root = dir.filePath(QStringLiteral("root"));
    const bool rootLink = link.startsWith("root");
    const QString target =
        dangling ? dir.filePath(QStringLiteral("nowhere")) : (rootLink ? real : real + "/" + link);
    if (rootLink) {
        QVERIFY(QFile::link(target, root));
    } else {
        QVERIFY(QDir().mkpath(root + "/a/b"));
        QVERIFY(QFile::copy(real + "/a/b/file.txt", root + "/a/b/file.txt"));
        if (!link.isEmpty()) {
            QVERIFY(QFileInfo(root + "/" + link).isDir()
                        ? QDir(root + "/" + link).removeRecursively()
                        : QFile::remove(root + "/" + link));
            QVERIFY(QFile::link(target, root + "/" + link));
        }
    }
    QCOMPARE(hasSymbolicLinkAlong(link == "root/" ? root + "/" : root, relative), found);
}
