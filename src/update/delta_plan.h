#pragma once

#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "manifest_file.h"

class FileOperations;

// The most files a launcher's target inventory may list.
inline constexpr qsizetype kMaxInventoryFiles = 20000;

// A delta's "launcher-update-plan.json", checked: the whole target inventory, the paths the
// delta installs (spelled as in the inventory) and the paths it takes away (as written).
struct DeltaPlan {
    QString fromVersion;
    QString toVersion;
    QList<ManifestFile> files;
    QStringList replace;
    QStringList remove;
};

// Reads (through `files`) and checks the plan at `planPath` against the two versions of the command
// line. False with `message` set, and `plan` unchanged, at the first rule it breaks.
bool loadDeltaPlan(const QString& planPath, const QString& fromVersion, const QString& version,
                   FileOperations& files, DeltaPlan& plan, QString& message);

// Reads the elements of a target inventory, as a delta plan and a signed release list it: each
// an object of a safe path, a size and a digest, 2147483648 bytes in all, no path twice after
// case folding. `byFolded` maps each folded path to its element's position. False at the first
// element that breaks a rule.
bool readUpdateInventory(const QJsonArray& elements, QList<ManifestFile>& files,
                         QHash<QString, qsizetype>& byFolded);
