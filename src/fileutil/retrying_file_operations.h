#pragma once

#include <cstdint>
#include <functional>

#include "file_operations.h"

// The errors that a create, rename or delete meets on Windows while another process has the
// file open for a moment (antivirus, the search indexer, sync clients): 32 a sharing
// violation, 5 access denied (the file is pending deletion), 33 a lock violation, 1224 a
// user-mapped section.
bool isTransientFileError(std::uint32_t error);

// Only Windows meets them in the field; elsewhere the same numbers stand for lasting failures.
#ifdef _WIN32
constexpr bool kRetryTransientFileErrors = true;
#else
constexpr bool kRetryTransientFileErrors = false;
#endif

// Gives the calls that create, rename or remove entries (makeDirectories, rename, copy, remove,
// removeDirectory, removeTree, writeFile) more attempts while they fail with a transient error,
// pausing a little longer before each, for about two seconds of pauses in all; then the last
// failure stands, with its error. Every other failure, and every other call, goes through once.
class RetryingFileOperations final : public FileOperationsWrapper {
public:
    // Waits the given number of milliseconds; tests pass one that only records it.
    using Pause = std::function<void(int milliseconds)>;
    static constexpr int kPauseBudgetMs = 2000;

    // With `retry` false every call goes through once.
    explicit RetryingFileOperations(FileOperations& target, bool retry = kRetryTransientFileErrors,
                                    Pause pause = {});

    bool makeDirectories(const QString& path) override;
    bool rename(const QString& from, const QString& to) override;
    bool copy(const QString& from, const QString& to) override;
    bool remove(const QString& path) override;
    bool removeDirectory(const QString& path) override;
    bool removeTree(const QString& path) override;
    bool writeFile(const QString& path, const QByteArray& data) override;

private:
    bool retried(const std::function<bool()>& attempt);

    bool retry_;
    Pause pause_;
};
