#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "manifest_file.h"

// A delta's "launcher-update-plan.json", checked: the whole target inventory, the paths the
// delta installs (spelled as in the inventory) and the paths it takes away (as written).
struct DeltaPlan {
    QString fromVersion;
    QString toVersion;
    QList<ManifestFile> files;
    QStringList replace;
    QStringList remove;
};

// Reads and checks the plan at `planPath` against the two versions of the command line. False
// with `message` set, and `plan` unchanged, at the first rule it breaks.
bool loadDeltaPlan(const QString& planPath, const QString& fromVersion, const QString& version,
                   DeltaPlan& plan, QString& message);
