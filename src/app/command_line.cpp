#include "command_line.h"

#include "platform.h"

bool hasSwitch(const QStringList& arguments, const QString& name) {
    return arguments.contains(name, Qt::CaseSensitive);
}

QString switchValue(const QStringList& arguments, const QString& name) {
    const qsizetype at = arguments.indexOf(name);
    return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : QString();
}

bool readUpdateArguments(const QStringList& arguments, UpdateArguments& update) {
    update.installRoot = switchValue(arguments, QStringLiteral("--install-root"));
    update.stagedRoot = switchValue(arguments, QStringLiteral("--staged-root"));
    update.version = switchValue(arguments, QStringLiteral("--version"));
    update.ackPath = switchValue(arguments, QStringLiteral("--ack"));
    update.deltaPlan = switchValue(arguments, QStringLiteral("--delta-plan"));
    update.fromVersion = switchValue(arguments, QStringLiteral("--from-version"));
    bool converted = false;
    update.parentPid =
        switchValue(arguments, QStringLiteral("--parent-pid")).toUInt(&converted, 10);
    if (!converted) {
        return false;
    }
    if (update.installRoot.isEmpty() || update.stagedRoot.isEmpty() || update.version.isEmpty() ||
        update.ackPath.isEmpty()) {
        return false;
    }
    return update.deltaPlan.isEmpty() == update.fromVersion.isEmpty();
}

QStringList receivedArguments(int argc, char** argv) {
    QStringList arguments;
    for (const platform::NativeString& argument : platform::processArguments(argc, argv)) {
#ifdef _WIN32
        arguments << QString::fromStdWString(argument);
#else
        arguments << QString::fromLocal8Bit(argument.data(), qsizetype(argument.size()));
#endif
    }
    return arguments;
}
