#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include "delta_plan.h"
#include "update_request.h"

class FileOperations;
class SignatureVerifier;

// What an update will do once its package has passed every check: the paths it takes away and
// those it installs, in the order of work, and the digest each installed copy must have where
// one is known (from a delta's plan, or from a signed release).
struct UpdateWork {
    QStringList remove;
    QStringList replace;
    QHash<QString, QByteArray> digests;  // by path, as in `replace`
    bool delta = false;
    DeltaPlan plan;
};

// Everything about the staged package that can be checked before the installation changes: the
// signed release when one is staged (always, when the run is elevated), then the full package or
// the delta plan, its staging and the files it keeps, then the package against the release.
// Reads only. False with `message` set at the first failure.
bool checkUpdatePackage(const UpdateRequest& request, const SignatureVerifier& verifier,
                        FileOperations& files, UpdateWork& work, QString& message);
