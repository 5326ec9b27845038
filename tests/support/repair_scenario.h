// A game installation and a signed staging that repairs it, shared by the repair tests in and out
// of process: two files replaced (one nested), two created (one under new directories), one left
// alone, and a manifest that lists one file more than the plan.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

namespace testsupport {

using FileTree = QMap<QString, QByteArray>;

// Every file under `root` by relative path with its content; links as "<link>", never followed,
// and with `directories` every directory as "<dir>". Names under a top-level ".tavorin-" entry
// (journals, backups, work directories, a write probe a kill left) are left out when
// `visibleOnly`.
FileTree fileTree(const QString& root, bool visibleOnly = true, bool directories = false);

// Writes each file of `files` under `root`, making the directories on the way; one whose content
// is "<dir>" (as fileTree() shows directories) is made a directory.
bool writeTree(const QString& root, const FileTree& files);

// Each file's path, size and SHA-256, as manifests, delta plans and releases list them.
QJsonArray inventoryOf(const FileTree& files);

class RepairScenario {
public:
    // Lays everything out under `directory` (unless it is there already): "inst", "staging"
    // (plan.json, manifest.envelope.json, files/) and "outside", which nothing may ever touch.
    explicit RepairScenario(const QString& directory, bool layOut = true);

    QString root() const;
    QString planPath() const;
    QString path(const QString& relative) const;  // under `directory`

    // Writes the plan and the envelope again from `plan` and `manifest`, which rows may change.
    // `installationRoot` is how the program under test names root() (a Z:\ path under Wine).
    bool writeDocuments(const QString& installationRoot = QString());
    // Makes the first staged file bad (same size, other bytes), or good again.
    bool spoilStaging(bool spoiled);

    const FileTree& original() const { return original_; }
    FileTree repaired() const;

    QJsonObject plan;
    QJsonObject manifest;

private:
    QString directory_;
    FileTree original_;
    FileTree staged_;
};

}  // namespace testsupport
