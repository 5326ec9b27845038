#include "retrying_file_operations.h"

#include <algorithm>
#include <chrono>
#include <thread>

bool isTransientFileError(std::uint32_t error) {
    switch (error) {
        case 5:     // ERROR_ACCESS_DENIED
        case 32:    // ERROR_SHARING_VIOLATION
        case 33:    // ERROR_LOCK_VIOLATION
        case 1224:  // ERROR_USER_MAPPED_FILE
            return true;
        default:
            return false;
    }
}

RetryingFileOperations::RetryingFileOperations(FileOperations& target, bool retry, Pause pause)
    : FileOperationsWrapper(target), retry_(retry), pause_(std::move(pause)) {
    if (!pause_) {
        pause_ = [](int milliseconds) {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        };
    }
}

bool RetryingFileOperations::retried(const std::function<bool()>& attempt) {
    // Scanners hold a fresh file for a few milliseconds up to about a second: short pauses
    // first, doubling, so that the common case costs little and the whole stays bounded.
    int paused = 0;
    for (int next = 10;; next *= 2) {
        if (attempt()) {
            return true;
        }
        if (!retry_ || !isTransientFileError(lastError()) || paused >= kPauseBudgetMs) {
            return false;
        }
        const int pause = std::min(next, kPauseBudgetMs - paused);
        pause_(pause);
        paused += pause;
    }
}

bool RetryingFileOperations::makeDirectories(const QString& path) {
    return retried([&] { return FileOperationsWrapper::makeDirectories(path); });
}

bool RetryingFileOperations::rename(const QString& from, const QString& to) {
    return retried([&] { return FileOperationsWrapper::rename(from, to); });
}

bool RetryingFileOperations::copy(const QString& from, const QString& to) {
    return retried([&] { return FileOperationsWrapper::copy(from, to); });
}

bool RetryingFileOperations::remove(const QString& path) {
    return retried([&] { return FileOperationsWrapper::remove(path); });
}

bool RetryingFileOperations::removeDirectory(const QString& path) {
    return retried([&] { return FileOperationsWrapper::removeDirectory(path); });
}

bool RetryingFileOperations::removeTree(const QString& path) {
    return retried([&] { return FileOperationsWrapper::removeTree(path); });
}

bool RetryingFileOperations::writeFile(const QString& path, const QByteArray& data) {
    return retried([&] { return FileOperationsWrapper::writeFile(path, data); });
}
