#include "file_hash.h"

#include <memory>

#include "error_text.h"
#include "native_path.h"
#include "platform.h"

namespace {

constexpr std::size_t kReadBlockSize = 1048576;

}  // namespace

QByteArray hashFileSha256(const QString& path, QString& message) {
    platform::SequentialFile file;
    std::uint32_t error = 0;
    if (!file.open(nativeFilePath(path), &error)) {
        message = windowsErrorText("Could not open", path, error);
        return {};
    }
    return hashOpenFileSha256(file, path, message);
}

QByteArray hashOpenFileSha256(platform::SequentialFile& file, const QString& path,
                              QString& message) {
    std::uint32_t error = 0;
    platform::Sha256Provider provider;
    platform::HashStatus status = provider.open();
    if (status < 0) {
        message = hashStepFailureText("provider", path, status);
        return {};
    }
    platform::Sha256Hash hash;
    status = hash.create(provider);
    if (status < 0) {
        message = hashStepFailureText("initialization", path, status);
        return {};
    }
    // Not zeroed: a small file touches only the first pages of it.
    std::unique_ptr<char[]> buffer(new char[kReadBlockSize]);
    for (;;) {
        std::size_t bytesRead = 0;
        if (!file.read(buffer.get(), kReadBlockSize, &bytesRead, &error)) {
            message = windowsErrorText("Could not read", path, error);
            return {};
        }
        if (bytesRead == 0) {
            break;
        }
        status = hash.update(buffer.get(), bytesRead);
        if (status < 0) {
            message = hashStepFailureText("update", path, status);
            return {};
        }
    }
    QByteArray digest(static_cast<int>(platform::kSha256Size), '\0');
    status = hash.finish(reinterpret_cast<unsigned char*>(digest.data()));
    if (status < 0) {
        message = hashStepFailureText("finalization", path, status);
        return {};
    }
    return digest;
}

bool digestsEqual(const QByteArray& a, const QByteArray& b) {
    return a == b;
}
