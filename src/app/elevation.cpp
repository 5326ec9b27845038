#include "elevation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "file_operations.h"
#include "native_path.h"
#include "platform.h"
#include "result_file.h"

namespace {

constexpr int kRelaunchFailedCode = 25;
constexpr int kDeclinedCode = 26;

const QString kElevated = QStringLiteral("--elevated");

platform::NativeString ownProgram() {
    return nativeArgument(QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
}

std::vector<platform::NativeString> copyArguments(const QStringList& arguments) {
    std::vector<platform::NativeString> native;
    for (const QString& argument : arguments) {
        native.push_back(nativeArgument(argument));
    }
    native.push_back(nativeArgument(kElevated));
    return native;
}

int relaunchFailed(const QString& planPath, int code, const QString& message) {
    // The first process runs with its user's rights: it writes by name, as its user could.
    writeRepairResult(systemFileOperations(), planPath, code, message);
    return code;
}

int startFailed(const QString& planPath, std::uint32_t error) {
    if (error == platform::kErrorCancelled) {
        return relaunchFailed(planPath, kDeclinedCode,
                              QStringLiteral("Administrator permission was declined."));
    }
    return relaunchFailed(planPath, kRelaunchFailedCode,
                          QStringLiteral("Could not start the elevated game repair helper."));
}

}  // namespace

bool isProcessElevated() {
    return platform::isProcessElevated();
}

int relaunchElevatedForRepair(const QStringList& arguments, const QString& planPath) {
    platform::Process copy;
    std::uint32_t error = 0;
    if (!copy.startElevated(ownProgram(), copyArguments(arguments.mid(1)), &error)) {
        return startFailed(planPath, error);
    }
    if (!copy.started()) {
        return relaunchFailed(
            planPath, kRelaunchFailedCode,
            QStringLiteral("The elevated game repair helper returned no process handle."));
    }
    std::uint32_t code = 0;
    if (copy.wait(platform::kWaitForever) != platform::ProcessWait::Ended ||
        !copy.exitCode(&code)) {
        return relaunchFailed(
            planPath, kRelaunchFailedCode,
            QStringLiteral("The elevated game repair helper did not finish correctly."));
    }
    // Where the prompt is a program of its own (pkexec), its refusal comes as its exit code.
    if (platform::elevationRefused(code, &error)) {
        return startFailed(planPath, error);
    }
    return static_cast<int>(code);
}

bool relaunchElevatedForUpdate(const QStringList& arguments) {
    std::uint32_t error = 0;
    return platform::startElevatedDetached(ownProgram(), copyArguments(arguments), &error);
}
