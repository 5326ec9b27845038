#include <QtTest>

#include "atomic_file.h"
#include "file_fixtures.h"
#include "tst_fileutil.h"

// Column `existing` says what stands at the target before the save: nothing, a file, a link to
// a file elsewhere, a dangling link, or a directory.
void TestFileUtil::atomicSave_data() {
    QTest::addColumn<QString>("existing");
    QTest::addColumn<bool>("saved");
    QTest::newRow("nothing") << "nothing" << true;
    QTest::newRow("old file") << "file" << true;
    QTest::newRow("link to a file elsewhere") << "link" << true;
    QTest::newRow("dangling link") << "dangling" << true;
    QTest::newRow("directory") << "directory" << false;
}

void TestFileUtil::atomicSave() {
    QFETCH(QString, existing);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("target")));
    const QString outside = dir.filePath(QStringLiteral("outside.txt"));
    const QString target = dir.filePath(QStringLiteral("target/result.json"));
    if (existing == "file" || existing == "link") {
        QFile old(existing == "file" ? target : outside);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    }
    if (existing == "link" || existing == "dangling") {
        QVERIFY(QFile::link(outside, target));
    }
    if (existing == "directory") {
        QVERIFY(QDir().mkpath(target + "/inner"));
    }

    QCOMPARE(saveFileAtomically(target, "new"), saved);

    if (saved) {
        QVERIFY(!QFileInfo(target).isSymLink());
        QCOMPARE(testsupport::readFile(target), QByteArray("new"));
    } else {
        QVERIFY(QFileInfo(target + "/inner").isDir());
    }
    // Nothing was written through a link, and no temporary file is left behind.
    QCOMPARE(QFileInfo::exists(outside), existing == "link");
    if (existing == "link") {
        QCOMPARE(testsupport::readFile(outside), QByteArray("old"));
    }
    QCOMPARE(testsupport::entriesOf(dir.filePath("target")),
             QStringList{QStringLiteral("result.json")});
}
