#include <QCryptographicHash>
#include <QtTest>

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
    QTest::newRow("one byte") << qint64(1);
    QTest::newRow("exactly one read block") << qint64(1048576);
    QTest::newRow("one block and one byte") << qint64(1048577);
    QTest::newRow("several blocks") << qint64(3 * 1048576 + 17);
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

void TestFileUtil::hashFailureNamesFileAndError_data() {
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("verbAndError");
    QTest::newRow("missing file") << "missing.bin"
                                  << "Could not open|2";
    QTest::newRow("missing directory") << "nodir/missing.bin"
                                       << "Could not open|3";
    QTest::newRow("a directory") << "sub"
                                 << "Could not open|5";
}

void TestFileUtil::hashFailureNamesFileAndError() {
    QFETCH(QString, relative);
    QFETCH(QString, verbAndError);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    const QString path = dir.filePath(relative);
    QString message;
    QVERIFY(hashFileSha256(path, message).isEmpty());
    const QStringList parts = verbAndError.split('|');
    QCOMPARE(message, QStringLiteral("%1 %2 (Windows error %3)")
                          .arg(parts[0], QDir::toNativeSeparators(path), parts[1]));
}
