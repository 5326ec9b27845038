#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include "manifest_file.h"

class FileOperations;
class SignatureVerifier;

// The record of one repair run: filled by loadRepairPlan (and parseGameManifest), read-only
// afterwards.
struct RepairPlan {
    QString installationRoot;  // cleaned absolute path, forward slashes
    QString stagingRoot;       // the plan file's directory
    QString stagedFilesRoot;   // stagingRoot + "/files", an existing directory
    QString manifestId;
    QString gameId;
    QString channel;  // "stable" or "preview"
    qint64 generation = 0;
    QStringList files;  // as the plan writes them, in plan order, unique after case folding
    QHash<QString, ManifestFile> manifestFiles;  // by case-folded path
};

// Reads the plan at `planPath` (absolute), checks it, then reads the signed manifest envelope
// beside it (both through `files`), has `verifier` verify it and hands the payload to
// parseGameManifest. On failure sets `message`; `errorCode` becomes 22 for a failure from the
// envelope on and is left alone before that (the run presets 21). Changes nothing on disk.
bool loadRepairPlan(const QString& planPath, const SignatureVerifier& verifier,
                    FileOperations& files, RepairPlan& plan, int& errorCode, QString& message);

// Accepts an absolute installation root whose existing ancestors (the root itself included) are
// real directories, none a link; parts that do not exist yet are passed over. Stores the cleaned
// absolute path in plan.installationRoot once the text is absolute.
bool resolveInstallationRoot(const QString& text, RepairPlan& plan);

// Checks the signed manifest payload against the plan and records each file's signed size and
// digest in plan.manifestFiles. On failure sets `message`.
bool parseGameManifest(const QByteArray& payload, RepairPlan& plan, QString& message);
