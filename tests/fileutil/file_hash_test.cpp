#include <QCryptographicHash>
#include <QScopeGuard>
#include <QtTest>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "file_fixtures.h"
#include "file_hash.h"
#include "tst_fileutil.h"

namespace {

QByteArray patterned(qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    }
    return bytes;
}

}  // namespace

void TestFileUtil::hashMatchesReference_data() {
    QTest::addColumn<qint64>("size");
    QTest::newRow("empty") << qint64(0);
    QTest::newRow("exactly one read block") << qint64(1048576);
    QTest::newRow("one block and one byte") << qint64(1048577);
}

void TestFileUtil::hashMatchesReference() {
    QFETCH(qint64, size);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.bin"));
    const QByteArray content = patterned(size);
    QVERIFY(testsupport::writeFile(path, content));

    QString message = QStringLiteral("left alone");
    const QByteArray digest = hashFileSha256(path, message);
    QCOMPARE(digest, QCryptographicHash::hash(content, QCryptographicHash::Sha256));
    QCOMPARE(message, QStringLiteral("left alone"));
    QVERIFY(digestsEqual(digest, QCryptographicHash::hash(content, QCryptographicHash::Sha256)));
    QVERIFY(!digestsEqual(digest, QByteArray()));
}

void TestFileUtil::hashLongPath() {
    QTemporaryDir dir;
    QString path = dir.path();
    while (path.size() < 300) {
        path += QStringLiteral("/") + QString(60, QLatin1Char('n'));
    }
    QVERIFY(QDir().mkpath(path));
    QVERIFY(testsupport::writeFile(path + "/f", "abc"));
    QString message;
    // Written with a redundant segment, as a caller may join it.
    QCOMPARE(hashFileSha256(path + "/./f", message).toHex(),
             QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    QVERIFY(message.isEmpty());
}

// Nothing but a regular file is hashed: a FIFO or a device reads as empty or endless, or blocks
// for ever. A NUL in the name is refused rather than cut there.
void TestFileUtil::hashFailureNamesFileAndError_data() {
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("verbAndError");
    QTest::newRow("missing file") << "missing.bin"
                                  << "Could not open|2";
    QTest::newRow("missing directory") << "nodir/missing.bin"
                                       << "Could not open|3";
    QTest::newRow("a directory") << "sub"
                                 << "Could not open|5";
    QTest::newRow("NUL after an existing name") << QStringLiteral("sub/file") + QChar(0) + "x"
                                                << "Could not open|123";
#ifdef Q_OS_WIN
    QTest::newRow("reserved name with a space, the NUL device") << "nul .txt"
                                                                << "Could not open|5";
#else
    QTest::newRow("FIFO without a writer") << "fifo"
                                           << "Could not open|5";
    QTest::newRow("FIFO a writer holds open") << "held fifo"
                                              << "Could not open|5";
    QTest::newRow("endless device") << "/dev/zero"
                                    << "Could not open|5";
#endif
}

void TestFileUtil::hashFailureNamesFileAndError() {
    QFETCH(QString, relative);
    QFETCH(QString, verbAndError);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    QVERIFY(testsupport::writeFile(dir.filePath(QStringLiteral("sub/file")), "abc"));
    const QString path = relative.startsWith('/') ? relative : dir.filePath(relative);
#ifndef Q_OS_WIN
    int writer = -1;
    if (relative.endsWith(QStringLiteral("fifo"))) {
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        if (relative.startsWith(QStringLiteral("held"))) {
            writer = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
            QVERIFY(writer >= 0);
        }
    }
    const auto closeWriter = qScopeGuard([writer] {
        if (writer >= 0) {
            ::close(writer);
        }
    });
#endif
    QString message;
    QVERIFY(hashFileSha256(path, message).isEmpty());
    const QStringList parts = verbAndError.split('|');
    QCOMPARE(message, QStringLiteral("%1 %2 (Windows error %3)")
                          .arg(parts[0], QDir::toNativeSeparators(path), parts[1]));
}
