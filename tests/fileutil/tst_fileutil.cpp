// Tests of the path rules, the long-path form, hashing, the link guard and the atomic save. The
// OS layer's answers for each kind of entry are tested in tests/platform; here what these
// functions make of them. The path rules are checked on every input against a second, plain
// writing of them by the path_rules fuzz target; the rows here are their limits and one case of
// each kind of refusal.
#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "atomic_file.h"
#include "file_fixtures.h"
#include "file_hash.h"
#include "native_path.h"
#include "path_rules.h"
#include "repair_scenario.h"
#include "symlink_guard.h"

using testsupport::readFile;
using testsupport::writeFile;
using testsupport::writeTree;

// Child mode of the test program: saves "new" to the path that follows, for atomicSaveIsDurable.
constexpr char kSaveChild[] = "--save-child";

class TestFileUtil : public QObject {
    Q_OBJECT

private slots:
    void safeRelativePath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("safe");
        const QString longest = QStringLiteral("abcdefghi") + QString("/abcdefgh").repeated(128);
        // clang-format off
        QTest::newRow("odd characters, spaces, names near a device's")
            << QStringLiteral(" a?b/.c*d/<e> |f\"\x01/COM10/LPT0.t/console/.con/COM\u2074") << true;
        QTest::newRow("1024 code units") << longest.left(1024) << true;
        QTest::newRow("1025 code units") << longest.left(1025) << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("backslash") << "bin\\game.exe" << false;
        QTest::newRow("drive letter") << "C:game.exe" << false;
        QTest::newRow("empty segment") << "bin//game.exe" << false;
        QTest::newRow("..") << "bin/../x" << false;
        QTest::newRow("device, spaces before the extension") << "logs/con .txt" << false;
        QTest::newRow("device with a superscript digit") << QStringLiteral("com\u00b9") << false;
        QTest::newRow("segment ends in a dot") << "a./b" << false;
        QTest::newRow("NUL") << QStringLiteral("a") + QChar(0) << false;
        // clang-format on
    }
    void safeRelativePath() {
        QFETCH(QString, path);
        QFETCH(bool, safe);
        QCOMPARE(isSafeRelativePath(path), safe);
    }

    void windowsLongPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        const QString dir = QStringLiteral("C:\\") + QString(240, 'd');  // 243 units
        const QString share = QStringLiteral("\\\\server\\share\\") + QString(250, 'u');
        const QString prefixed = QStringLiteral("\\\\?\\C:\\") + QString(300, 'p');
        // From 248 on, where CreateDirectoryW stops taking a path.
        // clang-format off
        QTest::newRow("247 unchanged") << dir + "\\123" << dir + "\\123";
        QTest::newRow("248 prefixed") << dir + "\\1234" << "\\\\?\\" + dir + "\\1234";
        QTest::newRow("drive-relative") << "C:" + QString(300, 'r') << "C:" + QString(300, 'r');
        QTest::newRow("slashes and dot segments cleaned first")
            << QString(dir).replace('\\', '/') + "/x/../y/./123456"
            << "\\\\?\\" + dir + "\\y\\123456";
        QTest::newRow("UNC") << share << "\\\\?\\UNC\\" + share.mid(2);
        QTest::newRow("already prefixed") << prefixed << prefixed;
        // clang-format on
    }
    void windowsLongPath() {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(toWindowsLongPath(path), expected);
    }

    // `size` bytes are written at `relative` first, unless it is -1; `error` 0: hashed.
    void hash_data() {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("error");
        // clang-format off
        QTest::newRow("empty") << "f" << qint64(0) << 0;
        QTest::newRow("exactly one read block") << "f" << qint64(1048576) << 0;
        QTest::newRow("one block and one byte") << "f" << qint64(1048577) << 0;
        QTest::newRow("path of 300 characters with a redundant segment")
            << QString("/" + QString(60, 'n')).repeated(5).mid(1) + "/./f" << qint64(3) << 0;
        QTest::newRow("missing") << "missing.bin" << qint64(-1) << 2;
        // Refused rather than cut there: the shorter name exists.
        QTest::newRow("NUL after an existing name")
            << QString::fromLatin1("f\0x", 3) << qint64(3) << 123;
        // clang-format on
    }
    void hash() {
        QFETCH(QString, relative);
        QFETCH(qint64, size);
        QFETCH(int, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(relative);
        QByteArray content;
        for (qint64 i = 0; i < size; ++i) {
            content += static_cast<char>((i * 7 + i / 251) & 0xff);
        }
        const QString written = relative.left(relative.indexOf(QChar(0)));
        QVERIFY(size < 0 || writeTree(dir.path(), {{written, content}}));
        QString message = QStringLiteral("left alone");
        const QByteArray digest = hashFileSha256(path, message);
        QCOMPARE(digest.isEmpty(), error != 0);
        QVERIFY(error || digestsEqual(digest, QCryptographicHash::hash(
                                                  content, QCryptographicHash::Sha256)));
        QCOMPARE(message, error == 0 ? QStringLiteral("left alone")
                                     : QStringLiteral("Could not open %1 (Windows error %2)")
                                           .arg(QDir::toNativeSeparators(path))
                                           .arg(error));
    }

    // The tree under test is root/a/b/file.txt. Column `link` names the entry that is replaced by
    // a symbolic link to its twin in a second such tree ("" for none, "~" before it: to nothing):
    // "root" ("root/": the root is named with a trailing separator), "a/b" or "a/b/file.txt".
    void symbolicLinkAlong_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("found");
        // clang-format off
        QTest::newRow("no link") << "" << "a/b/file.txt" << false;
        QTest::newRow("missing tail") << "" << "a/b/new/dir/file.txt" << false;
        QTest::newRow("root") << "root" << "a/b/file.txt" << true;
        QTest::newRow("root named with a trailing separator") << "root/" << "a/b/file.txt" << true;
        QTest::newRow("NUL cannot be examined")
            << "" << QString::fromLatin1("a/b/file.txt\0", 13) << true;
        QTest::newRow("middle directory") << "a/b" << "a/b/file.txt" << true;
        QTest::newRow("final file") << "a/b/file.txt" << "a/b/file.txt" << true;
        QTest::newRow("below a missing tail") << "a/b" << "a/b/new/file.txt" << true;
        QTest::newRow("dangling final file") << "~a/b/file.txt" << "a/b/file.txt" << true;
        QTest::newRow("link beside the path") << "a/b/file.txt" << "a/other.txt" << false;
        // clang-format on
    }
    void symbolicLinkAlong() {
        QFETCH(QString, link);
        QFETCH(QString, relative);
        QFETCH(bool, found);
#ifdef Q_OS_WIN
        // QFile::link makes .lnk shortcuts there, and Wine shows Unix links as plain entries.
        QSKIP("symbolic links cannot be made here; the link cases run on Linux");
#endif
        QTemporaryDir dir;
        const bool atRoot = link.startsWith("root"), dangling = link.startsWith('~');
        const QString root = dir.filePath("root"),
                      at = atRoot ? root : root + "/" + link.mid(dangling);
        QVERIFY(writeTree(dir.path(), {{"root/a/b/file.txt", ""}, {"real/a/b/file.txt", ""}}));
        QVERIFY(link.isEmpty() || QFile::remove(at) || QDir(at).removeRecursively());
        const QString twin = dangling ? "nowhere" : atRoot ? "real" : "real/" + link;
        QVERIFY(link.isEmpty() || QFile::link(dir.filePath(twin), at));
        QCOMPARE(hasSymbolicLinkAlong(link == "root/" ? root + "/" : root, relative), found);
    }

    // Column `existing` says what stands at the target before the save.
    void atomicSave_data() {
        QTest::addColumn<QString>("existing");
        QTest::newRow("nothing") << "nothing";
        QTest::newRow("old file") << "file";
        QTest::newRow("link to a file elsewhere") << "link";
        QTest::newRow("dangling link") << "dangling";
        QTest::newRow("directory") << "directory";
        QTest::newRow("temporaries of interrupted saves") << "stale";
    }
    void atomicSave() {
        QFETCH(QString, existing);
        QTemporaryDir dir;
        const QString outside = dir.filePath("outside.txt"), target = dir.filePath("t/result.json");
        QVERIFY(QDir(dir.path()).mkdir("t") && (existing != "file" || writeFile(target, "old")));
        QVERIFY(existing != "link" || writeFile(outside, "old"));
        QVERIFY((existing != "link" && existing != "dangling") || QFile::link(outside, target));
        QVERIFY(existing != "directory" || QDir().mkpath(target + "/inner"));
        // Left by saves that never got to their rename; only names of that exact form are theirs.
        const QStringList kept = {"other.json.0123456789ab", "result.json",
                                  "result.json.0123456789xz", "result.json.keep"};
        for (const QString& name : kept + QStringList{"result.json.0123456789ab"}) {
            QVERIFY(existing != "stale" || writeFile(dir.filePath("t/" + name), "old"));
        }
#ifndef Q_OS_WIN
        QVERIFY(existing != "stale" ||
                QFile::link(outside, dir.filePath("t/result.json.abcdef012345")));
#endif
        const bool saved = existing != "directory";
        QCOMPARE(saveFileAtomically(target, "new"), saved);
        QVERIFY(saved ? !QFileInfo(target).isSymLink() && readFile(target) == "new"
                      : QFileInfo(target + "/inner").isDir());
        // Nothing was written through a link, and no temporary file is left behind.
        QCOMPARE(readFile(outside), QByteArray(existing == "link" ? "old" : "<unreadable>"));
        QCOMPARE(testsupport::entriesOf(dir.filePath("t")),
                 existing == "stale" ? kept : QStringList{QStringLiteral("result.json")});
    }

    // Watched with strace: the new bytes reach the disk before the rename puts them in place, and
    // the directory holding the new name is flushed after it.
    void atomicSaveIsDurable() {
        const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
#ifndef Q_OS_LINUX
        QSKIP("system calls are watched with strace, on Linux");
#endif
        if (strace.isEmpty()) {
            QSKIP("strace is not installed");
        }
        QTemporaryDir dir;
        const QString target = dir.filePath("result.json"), log = dir.filePath("strace.log");
        QProcess child;
        // LeakSanitizer cannot work under ptrace: in the sanitized build it would fail the child.
        child.start(strace, {"-E", "LSAN_OPTIONS=detect_leaks=0", "-f", "-y", "-o", log, "-e",
                             "trace=fdatasync,fsync,rename,renameat,renameat2",
                             QCoreApplication::applicationFilePath(), kSaveChild, target});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitCode(), 0);
        QStringList calls;
        for (const QString& text : QString::fromUtf8(readFile(log)).split('\n')) {
            if (text.contains("fdatasync(") && text.contains(target + ".")) {
                calls << "flush new file";
            } else if (text.contains("rename") && text.contains(target + "\"")) {
                calls << "rename";
            } else if (text.contains("fsync(") && text.contains("<" + dir.path() + ">")) {
                calls << "flush directory";
            }
        }
        QCOMPARE(calls, (QStringList{"flush new file", "rename", "flush directory"}));
        QCOMPARE(readFile(target), QByteArray("new"));
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], kSaveChild) == 0) {
        return saveFileAtomically(QString::fromLocal8Bit(argv[2]), "new") ? 0 : 1;
    }
    TestFileUtil test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fileutil.moc"
