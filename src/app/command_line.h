#pragma once

#include <QString>
#include <QStringList>

// Switches are whole arguments, matched exactly and case-sensitively, anywhere in the list.
bool hasSwitch(const QStringList& arguments, const QString& name);

// The argument right after the first occurrence of `name`, whatever it is (another switch
// included); empty when the switch is absent or stands last.
QString switchValue(const QStringList& arguments, const QString& name);

// The launcher update switches, as given.
struct UpdateArguments {
    QString installRoot;
    QString stagedRoot;
    QString version;
    QString ackPath;
    QString deltaPlan;
    QString fromVersion;
    quint32 parentPid = 0;
};

// Reads the update switches and checks them in a fixed order: the parent process id is an
// unsigned 32-bit decimal number; install root, staged root, version and ack path are not
// empty; delta plan and from-version are both given or both absent. False at the first failure.
// No path is looked at here.
bool readUpdateArguments(const QStringList& arguments, UpdateArguments& update);

// The program's arguments exactly as the process received them, element 0 included. Must be
// called before the application object exists: Qt takes some arguments (--qmljsdebugger=...)
// out of argv and arguments() for itself, and the launcher's switches must reach the parsing
// unchanged.
QStringList receivedArguments(int argc, char** argv);
