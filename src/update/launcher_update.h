#pragma once

#include <QList>
#include <QString>
#include <functional>

#include "update_journal.h"
#include "update_request.h"

class FileOperations;
class SignatureVerifier;

// Starts the updated launcher and tells whether it acknowledged its start (startUpdatedLauncher).
using LauncherStart = std::function<bool(const QString& launcherPath, const QString& ackPath)>;

// The launcher update run: checks the staged full package or delta and its signed release
// (checkUpdatePackage, against `verifier`'s keys), moves every original it touches into
// ".tavorin-update/<uuid>/backup" in the installation and installs the staged copies path by
// path under the journal "journal.json" beside it, hashing each copy whose digest is known before
// it goes into place; makes everything durable, starts the new launcher and keeps the update
// only if it acknowledges; otherwise, and on any failure after the first change, puts every
// original back. False with `message` set.
bool applyLauncherUpdate(const UpdateRequest& request, const SignatureVerifier& verifier,
                         FileOperations& files, const LauncherStart& startLauncher,
                         QString& message);

// The same over the real file operations and the real launcher start.
bool applyLauncherUpdate(const UpdateRequest& request, const SignatureVerifier& verifier,
                         QString& message);

// Undoes `entries` from the last to the first: whatever stands at the target goes, the
// directories the update created for it are pruned and those it pruned come back, and the
// original comes back from its backup. Best effort, silent;
// an entry under a directory that has become a link is left alone (its original stays in the
// backup).
void rollBackUpdateEntries(const QList<UpdateEntry>& entries, const QString& installRoot,
                           FileOperations& files);
