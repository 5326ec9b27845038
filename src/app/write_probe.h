#pragma once

#include <QString>

// True when a file can be created in `directory`. A missing directory is created first, with
// its missing parents. Creates and deletes one file named ".tavorin-update-probe-<uuid>".
// `accessDenied` is set only when missing rights are the reason: the directory could not be
// created, or creating the file failed with "access denied". Any other failure (the path is a
// file, the disk is full, ...) leaves it false.
bool probeWriteAccess(const QString& directory, bool& accessDenied);

// The plan's "installationRoot" string, read without any other check, or the empty string when
// the plan cannot be read (missing, not a regular file, empty, over 1 MiB), is not a JSON
// object, or has no string there.
QString readPlanInstallationRoot(const QString& planPath);
