#include "installation_lock.h"

#include "file_operations.h"
#include "native_path.h"

bool InstallationLock::acquire(const QString& root, FileOperations& files, QString& message) {
    const platform::NativeString directory = nativeFilePath(root);
    std::uint32_t error = 0;
    if (!lock_.acquire(directory, &error) &&
        ((error != platform::kErrorFileNotFound && error != platform::kErrorPathNotFound) ||
         !files.makeDirectories(root) || !lock_.acquire(directory, &error))) {
        message = error == platform::kErrorSharingViolation
                      ? QStringLiteral(
                            "Another game repair or launcher update is running in "
                            "this installation.")
                      : QStringLiteral("Could not lock the installation for this run.");
        return false;
    }
    return true;
}
