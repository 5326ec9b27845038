#pragma once

#include <QString>

// Replaces the launcher's files with the staged full package (deltaPlanPath and fromVersion
// empty) or delta, starts the new launcher and keeps the update only if it acknowledges its
// start by creating `ackPath`. False with `message` set on failure.
// The update steps are not built yet: every call fails and says so.
bool applyLauncherUpdate(const QString& installRoot, const QString& stagedRoot,
                         const QString& version, const QString& ackPath,
                         const QString& deltaPlanPath, const QString& fromVersion,
                         QString& message);
