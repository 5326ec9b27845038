#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// Exit statuses, which release scripts rely on.
enum ExitStatus { kSucceeded = 0, kRefused = 1, kUsageError = 2 };

// The switches and operands one subcommand was given, checked against its list of switches.
struct Arguments {
    QString command;
    QHash<QString, QString> values;  // by switch name, "--" included
    QStringList operands;

    QString value(const char* name) const { return values.value(QLatin1String(name)); }
    bool has(const char* name) const { return values.contains(QLatin1String(name)); }
};

// The subcommands. Each prints what it made on stdout and one sentence on stderr when it
// refuses, and returns an ExitStatus; none leaves a partial output behind.
int keygenCommand(const Arguments& arguments);
int manifestCommand(const Arguments& arguments);
int signCommand(const Arguments& arguments);
int verifyCommand(const Arguments& arguments);
int stageRepairCommand(const Arguments& arguments);
int deltaCommand(const Arguments& arguments);
int fullCommand(const Arguments& arguments);

// "launcher-publish COMMAND: MESSAGE" on stderr; kRefused.
int refuse(const Arguments& arguments, const QString& message);
// The same with a pointer to the command's help; kUsageError. For switch values that no run
// could take (an empty id, a channel that does not exist).
int usageError(const Arguments& arguments, const QString& message);

// Runs "launcher-publish ARGUMENTS..." (without the program name) and returns its exit status.
int runPublishTool(const QStringList& arguments);
