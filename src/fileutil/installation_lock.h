#pragma once

#include <QString>

#include "platform.h"

class FileOperations;

// The one lock of an installation directory: a game repair and a launcher update each hold it
// from before they read a journal or change anything until they end, so that no two runs ever
// work on one installation at once. The system releases it when the process dies.
class InstallationLock {
public:
    // Takes the lock on `root`, creating the directory first through `files` when it is
    // missing (a repair may install into a new one). False with `message` set otherwise:
    // "Another game repair or launcher update is running in this installation." when another
    // run holds it.
    bool acquire(const QString& root, FileOperations& files, QString& message);

private:
    platform::DirectoryLock lock_;
};
