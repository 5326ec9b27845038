#include <QProcess>
#include <QStandardPaths>
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
    QTest::newRow("temporaries of interrupted saves") << "stale" << true;
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
    // Left by saves that never got to their rename; only names of that exact form are theirs.
    const QStringList kept = {"other.json.0123456789ab", "result.json", "result.json.0123456789xz",
                              "result.json.keep"};
    if (existing == "stale") {
        for (const QString& name : kept + QStringList{"result.json.0123456789ab"}) {
            QVERIFY(testsupport::writeFile(dir.filePath("target/" + name), "old"));
        }
#ifndef Q_OS_WIN
        QVERIFY(QFile::link(outside, dir.filePath("target/result.json.abcdef012345")));
#endif
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
             existing == "stale" ? kept : QStringList{QStringLiteral("result.json")});
}

// Watched with strace: the new bytes reach the disk before the rename puts them in place, and the
// directory holding the new name is flushed after it.
void TestFileUtil::atomicSaveIsDurable() {
#ifdef Q_OS_LINUX
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty()) {
        QSKIP("strace is not installed");
    }
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("result.json"));
    const QString log = dir.filePath(QStringLiteral("strace.log"));
    QProcess child;
    // LeakSanitizer cannot work under ptrace: in the sanitized build it would fail the child.
    child.start(strace, {"-E", "LSAN_OPTIONS=detect_leaks=0", "-f", "-y", "-o", log, "-e",
                         "trace=fdatasync,fsync,rename,renameat,renameat2",
                         QCoreApplication::applicationFilePath(), kSaveChild, target});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitCode(), 0);
    QStringList calls;
    for (const QByteArray& line : testsupport::readFile(log).split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (text.contains("fdatasync(") && text.contains(target + ".")) {
            calls << "flush new file";
        } else if (text.contains("rename") && text.contains(target + "\"")) {
            calls << "rename";
        } else if (text.contains("fsync(") && text.contains("<" + dir.path() + ">")) {
            calls << "flush directory";
        }
    }
    QCOMPARE(calls, (QStringList{"flush new file", "rename", "flush directory"}));
    QCOMPARE(testsupport::readFile(target), QByteArray("new"));
#else
    QSKIP("system calls are watched with strace, on Linux");
#endif
}
