// The repair benchmark's two halves, run as separate processes so that the repair's peak memory
// is its own:
//   repair_bench setup DIR N N damaged installations DIR/inst-1..N, alike, and one signed
//                            staging DIR/staging that repairs each through its plan-K.json:
//                            20000 files of mixed sizes, 1 GiB in all
//   repair_bench repair PLAN the repair run's steps in process, printing the seconds spent on
//                            verification (plan, manifest, staging) and on the transaction,
//                            and the peak resident memory
#include <sys/resource.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <cstdio>

#include "file_operations.h"
#include "repair_plan.h"
#include "repair_recovery.h"
#include "repair_transaction.h"
#include "signature_verifier.h"
#include "signing_fixtures.h"
#include "staging_verification.h"

namespace {

constexpr int kFiles = 20000;
constexpr qint64 kTotalBytes = qint64(1) << 30;
constexpr qint64 kLargeFile = 4 << 20;  // every 100th file; the rest are 1 byte to 22 KiB

quint64 nextRandom(quint64& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

QByteArray randomBytes(qint64 size, quint64& state) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i + 8 <= size; i += 8) {
        const quint64 value = nextRandom(state);
        memcpy(bytes.data() + i, &value, 8);
    }
    for (qint64 i = size - size % 8; i < size; ++i) {
        bytes[i] = char(nextRandom(state));
    }
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int setup(const QString& directory, int rounds) {
    const QDir dir(directory);
    quint64 state = 88172645463325252ull;
    QJsonArray files;
    QJsonArray paths;
    qint64 left = kTotalBytes;
    for (int i = 0; i < kFiles; ++i) {
        qint64 size = i % 100 == 0 ? kLargeFile : 1 + qint64(nextRandom(state) % (22 << 10));
        size = i == kFiles - 1 ? left : qMin(size, left - (kFiles - 1 - i));
        left -= size;
        const QString path = QString::asprintf("d%03d/f%05d.bin", i / 100, i);
        const QByteArray good = randomBytes(size, state);
        bool written = writeFile(dir.filePath("staging/files/" + path), good);
        for (int round = 1; round <= rounds; ++round) {
            written = written && writeFile(dir.filePath(QString("inst-%1/").arg(round) + path),
                                           good.left(size / 2));
        }
        if (!written) {
            std::fprintf(stderr, "cannot write under %s\n", qPrintable(directory));
            return 1;
        }
        paths.append(path);
        files.append(QJsonObject{
            {"path", path},
            {"size", size},
            {"sha256", QString::fromLatin1(
                           QCryptographicHash::hash(good, QCryptographicHash::Sha256).toHex())}});
    }
    QJsonObject plan{{"schemaVersion", 1},  {"manifestId", "bench"}, {"gameId", "bench"},
                     {"channel", "stable"}, {"generation", 1},       {"files", paths}};
    QJsonObject manifest = plan;
    manifest.insert("files", files);
    bool written =
        testsupport::writeSignedEnvelope(dir.filePath("staging/manifest.envelope.json"),
                                         QJsonDocument(manifest).toJson(QJsonDocument::Compact));
    for (int round = 1; round <= rounds; ++round) {
        plan.insert("installationRoot", dir.absoluteFilePath(QString("inst-%1").arg(round)));
        written = written && writeFile(dir.filePath(QString("staging/plan-%1.json").arg(round)),
                                       QJsonDocument(plan).toJson());
    }
    return written ? 0 : 1;
}

// Seconds spent in each file operation, printed to stderr to show where the time goes.
class TimedFileOperations : public FileOperationsWrapper {
private:
    template <typename F>
    auto timed(const char* kind, F f) {
        QElapsedTimer timer;
        timer.start();
        auto result = f();
        seconds_[kind] += timer.nsecsElapsed() / 1e9;
        return result;
    }
    QMap<const char*, double> seconds_;

public:
    TimedFileOperations() : FileOperationsWrapper(systemFileOperations()) {}
    ~TimedFileOperations() override {
        for (auto it = seconds_.begin(); it != seconds_.end(); ++it) {
            std::fprintf(stderr, "  %-16s %7.3f s\n", it.key(), it.value());
        }
    }
    bool exists(const QString& p) override {
        return timed("exists", [&] { return FileOperationsWrapper::exists(p); });
    }
    qint64 regularFileSize(const QString& p) override {
        return timed("size", [&] { return FileOperationsWrapper::regularFileSize(p); });
    }
    bool hasLinkAlong(const QString& r, const QString& p) override {
        return timed("link check", [&] { return FileOperationsWrapper::hasLinkAlong(r, p); });
    }
    bool makeDirectories(const QString& p) override {
        return timed("directories", [&] { return FileOperationsWrapper::makeDirectories(p); });
    }
    bool rename(const QString& a, const QString& b) override {
        return timed("rename", [&] { return FileOperationsWrapper::rename(a, b); });
    }
    bool copy(const QString& a, const QString& b) override {
        return timed("copy", [&] { return FileOperationsWrapper::copy(a, b); });
    }
    bool remove(const QString& p) override {
        return timed("remove", [&] { return FileOperationsWrapper::remove(p); });
    }
    bool removeTree(const QString& p) override {
        return timed("remove tree", [&] { return FileOperationsWrapper::removeTree(p); });
    }
    QByteArray hashSha256(const QString& p, QString& m) override {
        return timed("hash", [&] { return FileOperationsWrapper::hashSha256(p, m); });
    }
    bool writeFile(const QString& p, const QByteArray& d) override {
        return timed("write journal", [&] { return FileOperationsWrapper::writeFile(p, d); });
    }
    bool flushDirectory(const QString& p) override {
        return timed("flush", [&] { return FileOperationsWrapper::flushDirectory(p); });
    }
    bool syncFileSystem(const QString& p) override {
        return timed("sync", [&] { return FileOperationsWrapper::syncFileSystem(p); });
    }
};

int repair(const QString& planPath) {
    const SignatureVerifier verifier(false);
    TimedFileOperations files;
    QElapsedTimer timer;
    timer.start();
    RepairPlan plan;
    int code = 21;
    QString message;
    const bool verified = loadRepairPlan(planPath, verifier, files, plan, code, message) &&
                          recoverInterruptedRepair(plan, files, message) &&
                          verifyRepairStaging(plan, files, message);
    const double verification = timer.nsecsElapsed() / 1e9;
    timer.restart();
    if (!verified || !applyRepairTransaction(plan, files, message)) {
        std::fprintf(stderr, "repair failed: %s\n", qPrintable(message));
        return 1;
    }
    const double transaction = timer.nsecsElapsed() / 1e9;
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.3f %.3f %ld\n", verification, transaction, usage.ru_maxrss);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "setup") == 0) {
        return setup(QString::fromLocal8Bit(argv[2]), atoi(argv[3]));
    }
    if (argc == 3 && qstrcmp(argv[1], "repair") == 0) {
        return repair(QString::fromLocal8Bit(argv[2]));
    }
    std::fprintf(stderr, "usage: repair_bench setup DIR ROUNDS | repair PLAN\n");
    return 2;
}
