// Tests of the path rules, the long-path form, hashing, the link guard and the atomic save. The
// OS layer's answers for each kind of entry are tested in tests/platform; here what these
// functions make of them.
#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "atomic_file.h"
#include "file_fixtures.h"
#include "file_hash.h"
#include "native_path.h"
#include "path_rules.h"
#include "symlink_guard.h"

using testsupport::readFile;
using testsupport::writeFile;

// Child mode of the test program: saves "new" to the path that follows, for atomicSaveIsDurable.
constexpr char kSaveChild[] = "--save-child";

class TestFileUtil : public QObject {
    Q_OBJECT

private slots:
    void safeRelativePath_data();
    void safeRelativePath();
    void windowsLongPath_data();
    void windowsLongPath();
    void hash_data();
    void hash();
    void symbolicLinkAlong_data();
    void symbolicLinkAlong();
    void atomicSave_data();
    void atomicSave();
    void atomicSaveIsDurable();
};

void TestFileUtil::safeRelativePath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("safe");
    // Valid 9-character segments, cut to the length wanted.
    const QString longest = (QStringLiteral("abcdefghi") + QString("/abcdefgh").repeated(128));

    QTest::newRow("plain") << "bin/game.exe" << true;
    QTest::newRow("dot-prefixed segment, inner spaces") << ".hidden/a b/c d.txt" << true;
    QTest::newRow("leading space") << " a/b" << true;
    QTest::newRow("odd characters") << "a?b/c*d/<e>|f\"g\x01" << true;
    QTest::newRow("COM10, LPT0, console, .con, COM4 superscript")
        << QStringLiteral("COM10/LPT0.txt/console.txt/.con/COM\u2074") << true;
    QTest::newRow("1024 code units") << longest.left(1024) << true;
    QTest::newRow("1025 code units") << longest.left(1025) << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("backslash") << "bin\\game.exe" << false;
    QTest::newRow("leading slash") << "/bin/game.exe" << false;
    QTest::newRow("drive letter") << "C:game.exe" << false;
    QTest::newRow("stream name") << "bin/game.exe:evil" << false;
    QTest::newRow("doubled slash") << "bin//game.exe" << false;
    QTest::newRow("trailing slash") << "bin/" << false;
    QTest::newRow("leading ./") << "./bin" << false;
    QTest::newRow("trailing /..") << "bin/.." << false;
    QTest::newRow("leading ../") << "../bin" << false;
    QTest::newRow("con") << "con" << false;
    QTest::newRow("Con.txt") << "Con.txt" << false;
    QTest::newRow("nul.tar.gz") << "nul.tar.gz" << false;
    QTest::newRow("lpt9.log in a directory") << "logs/lpt9.log" << false;
    QTest::newRow("com1 as a directory") << "com1/x" << false;
    QTest::newRow("AUX. (reserved and trailing dot)") << "AUX." << false;
    QTest::newRow("con .txt") << "con .txt" << false;
    QTest::newRow("CONIN$") << "CONIN$" << false;
    QTest::newRow("conout$.txt") << "conout$.txt" << false;
    QTest::newRow("com superscript one") << QStringLiteral("com\u00b9") << false;
    QTest::newRow("LPT superscript three .txt") << QStringLiteral("a/LPT\u00b3.txt") << false;
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

void TestFileUtil::windowsLongPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    const QString dir = QStringLiteral("C:\\") + QString(240, QLatin1Char('d'));  // 243 units
    const QString share = QStringLiteral("\\\\server\\share\\") + QString(250, 'u');
    const QString prefixed = QStringLiteral("\\\\?\\C:\\") + QString(300, 'p');

    // From 248 on, where CreateDirectoryW stops taking a path.
    QTest::newRow("247 unchanged") << dir + "\\123" << dir + "\\123";
    QTest::newRow("248 prefixed") << dir + "\\1234"
                                  << "\\\\?\\" + dir + "\\1234";
    QTest::newRow("long but relative") << QString(300, 'r') + "/x" << QString(300, 'r') + "\\x";
    QTest::newRow("long but drive-relative")
        << "C:" + QString(300, 'r') << "C:" + QString(300, 'r');
    QTest::newRow("slashes and dot segments cleaned first")
        << QString(dir).replace('\\', '/') + "/x/../y/./123456"
        << "\\\\?\\" + dir + "\\y\\123456";
    QTest::newRow("UNC") << share << "\\\\?\\UNC\\" + share.mid(2);
    QTest::newRow("short UNC") << "\\\\server\\share\\x"
                               << "\\\\server\\share\\x";
    QTest::newRow("already prefixed") << prefixed << prefixed;
}

void TestFileUtil::windowsLongPath() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(toWindowsLongPath(path), expected);
}

// `size` bytes are written at `relative` first, unless it is -1.
void TestFileUtil::hash_data() {
    QTest::addColumn<QString>("relative");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("error");  // 0: hashed
    QTest::newRow("empty") << "f" << qint64(0) << 0;
    QTest::newRow("exactly one read block") << "f" << qint64(1048576) << 0;
    QTest::newRow("one block and one byte") << "f" << qint64(1048577) << 0;
    QTest::newRow("path of 300 characters with a redundant segment")
        << QString("/" + QString(60, 'n')).repeated(5).mid(1) + "/./f" << qint64(3) << 0;
    QTest::newRow("missing") << "missing.bin" << qint64(-1) << 2;
    // Refused rather than cut there: the shorter name exists.
    QTest::newRow("NUL after an existing name")
        << QStringLiteral("f") + QChar(0) + "x" << qint64(3) << 123;
}

void TestFileUtil::hash() {
    QFETCH(QString, relative);
    QFETCH(qint64, size);
    QFETCH(int, error);
    QTemporaryDir dir;
    const QString path = dir.filePath(relative);
    QByteArray content(size < 0 ? 0 : size, Qt::Uninitialized);
    for (qint64 i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    }
    const QString written = QString(path).remove(QRegularExpression(QStringLiteral("\\x00.*")));
    QVERIFY(size < 0 || (QDir().mkpath(QFileInfo(written).path()) && writeFile(written, content)));
    QString message = QStringLiteral("left alone");
    const QByteArray digest = hashFileSha256(path, message);
    const QByteArray reference = QCryptographicHash::hash(content, QCryptographicHash::Sha256);
    QCOMPARE(digestsEqual(digest, reference), error == 0);
    QCOMPARE(digest.isEmpty(), error != 0);
    QCOMPARE(message, error == 0 ? QStringLiteral("left alone")
                                 : QStringLiteral("Could not open %1 (Windows error %2)")
                                       .arg(QDir::toNativeSeparators(path))
                                       .arg(error));
}

// The tree under test is root/a/b/file.txt. Column `link` names the entry that is replaced by a
// symbolic link ("" for none): "root" ("root/": the root is named with a trailing separator),
// "a/b" or "a/b/file.txt"; `dangling` points that link at nothing.
void TestFileUtil::symbolicLinkAlong_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("dangling");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("found");
    QTest::newRow("no link") << "" << false << "a/b/file.txt" << false;
    QTest::newRow("missing tail") << "" << false << "a/b/new/dir/file.txt" << false;
    QTest::newRow("root") << "root" << false << "a/b/file.txt" << true;
    QTest::newRow("root named with a trailing separator")
        << "root/" << false << "a/b/file.txt" << true;
    QTest::newRow("NUL cannot be examined")
        << "" << false << QStringLiteral("a/b/file.txt") + QChar(0) << true;
    QTest::newRow("middle directory") << "a/b" << false << "a/b/file.txt" << true;
    QTest::newRow("final file") << "a/b/file.txt" << false << "a/b/file.txt" << true;
    QTest::newRow("below a missing tail") << "a/b" << false << "a/b/new/file.txt" << true;
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
    // The tree is made under "real" and under "root", with the chosen entry of "root" replaced
    // by a link to its real twin.
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("root"));
    const QString twin = link.startsWith("root") ? "real" : "real/" + link;
    for (const QString& top : {QStringLiteral("real"), QStringLiteral("root")}) {
        QVERIFY(QDir().mkpath(dir.filePath(top + "/a/b")) &&
                writeFile(dir.filePath(top + "/a/b/file.txt"), ""));
    }
    if (link.startsWith("root")) {
        QVERIFY(QDir(root).removeRecursively());
    } else if (!link.isEmpty()) {
        QVERIFY(QFile::remove(root + "/" + link) || QDir(root + "/" + link).removeRecursively());
    }
    const QString at = link.startsWith("root") ? root : root + "/" + link;
    QVERIFY(link.isEmpty() || QFile::link(dir.filePath(dangling ? "nowhere" : twin), at));
    QCOMPARE(hasSymbolicLinkAlong(link == "root/" ? root + "/" : root, relative), found);
}

// Column `existing` says what stands at the target before the save.
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
    QVERIFY(existing != "file" || writeFile(target, "old"));
    QVERIFY(existing != "link" || writeFile(outside, "old"));
    QVERIFY((existing != "link" && existing != "dangling") || QFile::link(outside, target));
    QVERIFY(existing != "directory" || QDir().mkpath(target + "/inner"));
    // Left by saves that never got to their rename; only names of that exact form are theirs.
    const QStringList kept = {"other.json.0123456789ab", "result.json", "result.json.0123456789xz",
                              "result.json.keep"};
    if (existing == "stale") {
        for (const QString& name : kept + QStringList{"result.json.0123456789ab"}) {
            QVERIFY(writeFile(dir.filePath("target/" + name), "old"));
        }
#ifndef Q_OS_WIN
        QVERIFY(QFile::link(outside, dir.filePath("target/result.json.abcdef012345")));
#endif
    }

    QCOMPARE(saveFileAtomically(target, "new"), saved);
    QVERIFY(saved ? !QFileInfo(target).isSymLink() && readFile(target) == "new"
                  : QFileInfo(target + "/inner").isDir());
    // Nothing was written through a link, and no temporary file is left behind.
    QCOMPARE(readFile(outside), QByteArray(existing == "link" ? "old" : "<unreadable>"));
    QCOMPARE(testsupport::entriesOf(dir.filePath("target")),
             existing == "stale" ? kept : QStringList{QStringLiteral("result.json")});
}

// Watched with strace: the new bytes reach the disk before the rename puts them in place, and the
// directory holding the new name is flushed after it.
void TestFileUtil::atomicSaveIsDurable() {
#ifndef Q_OS_LINUX
    QSKIP("system calls are watched with strace, on Linux");
#endif
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
    for (const QByteArray& line : readFile(log).split('\n')) {
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
    QCOMPARE(readFile(target), QByteArray("new"));
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], kSaveChild) == 0) {
        return saveFileAtomically(QString::fromLocal8Bit(argv[2]), "new") ? 0 : 1;
    }
    TestFileUtil test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fileutil.moc"
