// A FileOperations that counts the calls of each kind and fails the chosen one on purpose, in
// the way of leveldb's ErrorEnv: the k-th call of one kind, or every call of it from the k-th on.
#pragma once

#include <QByteArray>
#include <QtTest>
#include <array>
#include <climits>

#include "file_operations.h"

namespace testsupport {

class FaultyFileOperations : public FileOperationsWrapper {
public:
    using Kind = FileOperations::Kind;

    FaultyFileOperations() : FileOperationsWrapper(systemFileOperations()) {}

    // Fails call `k` (from 1) of `kind`, and with `persistent` every later one of it too.
    void failAt(Kind kind, int k, bool persistent = false) {
        failTimes(kind, k, persistent ? INT_MAX : 1, 0);
    }
    // Fails `times` calls of `kind` in a row from call `k` on, each with Windows error `error`.
    void failTimes(Kind kind, int k, int times, std::uint32_t error) {
        kind_ = kind;
        k_ = k;
        times_ = times;
        error_ = error;
    }
    int count(Kind kind) const { return counts_[static_cast<int>(kind)]; }
    // True once the chosen call has failed.
    bool failed() const { return failed_; }

    bool makeDirectories(const QString& path) override {
        return pass(Kind::MakeDirectory) && FileOperationsWrapper::makeDirectories(path);
    }
    bool rename(const QString& from, const QString& to) override {
        return pass(Kind::Rename) && FileOperationsWrapper::rename(from, to);
    }
    bool copy(const QString& from, const QString& to) override {
        return pass(Kind::Copy) && FileOperationsWrapper::copy(from, to);
    }
    bool remove(const QString& path) override {
        return pass(Kind::Remove) && FileOperationsWrapper::remove(path);
    }
    bool removeDirectory(const QString& path) override {
        return pass(Kind::Remove) && FileOperationsWrapper::removeDirectory(path);
    }
    bool removeTree(const QString& path) override {
        return pass(Kind::Remove) && FileOperationsWrapper::removeTree(path);
    }
    QByteArray hashSha256(const QString& path, QString& message) override {
        if (!pass(Kind::Hash)) {
            message =
                QStringLiteral("Could not read ") + path + QStringLiteral(" (Windows error 1117)");
            return {};
        }
        return FileOperationsWrapper::hashSha256(path, message);
    }
    bool writeFile(const QString& path, const QByteArray& data) override {
        return pass(Kind::WriteFile) && FileOperationsWrapper::writeFile(path, data);
    }
    bool flushDirectory(const QString& path) override {
        return pass(Kind::Flush) && FileOperationsWrapper::flushDirectory(path);
    }
    bool syncFileSystem(const QString& path) override {
        return pass(Kind::Flush) && FileOperationsWrapper::syncFileSystem(path);
    }
    std::uint32_t lastError() const override {
        return faulted_ ? error_ : FileOperationsWrapper::lastError();
    }

private:
    bool pass(Kind kind) {
        const int n = ++counts_[static_cast<int>(kind)];
        faulted_ = kind == kind_ && n >= k_ && n - k_ < times_;
        failed_ = failed_ || faulted_;
        return !faulted_;
    }

    std::array<int, FileOperations::kKindCount> counts_{};
    Kind kind_ = Kind::MakeDirectory;
    int k_ = 0;  // 0: nothing fails
    int times_ = 0;
    std::uint32_t error_ = 0;
    bool faulted_ = false;  // the last call was made to fail
    bool failed_ = false;
};

// Where a sweep makes a call fail: the k-th call of `kind` (k 0: the counting run, where nothing
// fails), once or from then on.
struct FailurePoint {
    FileOperations::Kind kind;
    int k;
    bool persistent;
    QByteArray where;
};

// Runs `run(faulty, point)` once to count the calls, then once for every failure point. Stops at
// the first failed check; returns how many points were run.
template <typename Run>
int sweepFailures(Run run) {
    FaultyFileOperations counting;
    run(counting, FailurePoint{FileOperations::Kind::MakeDirectory, 0, false, "counting"});
    int points = 0;
    for (int kind = 0; kind < FileOperations::kKindCount; ++kind) {
        for (int k = 1; k <= counting.count(FileOperations::Kind(kind)); ++k) {
            for (const bool persistent : {false, true}) {
                FaultyFileOperations faulty;
                faulty.failAt(FileOperations::Kind(kind), k, persistent);
                const QByteArray where = QByteArray::number(kind) + "/" + QByteArray::number(k) +
                                         (persistent ? " on" : " once");
                run(faulty, FailurePoint{FileOperations::Kind(kind), k, persistent, where});
                if (QTest::currentTestFailed()) {
                    return points;
                }
                ++points;
            }
        }
    }
    return points;
}

}  // namespace testsupport
