#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "delta_plan.h"
#include "manifest_file.h"

class FileOperations;
class SignatureVerifier;

// The signed description of a complete launcher release, as its publisher signs it:
// {"files":[{"path","sha256","size"},...],"kind":"launcher-release","schemaVersion":1,
// "version":V}. It travels in a signed envelope at the top of the staged root.
struct ReleaseManifest {
    QString version;
    QList<ManifestFile> files;
};

// The envelope's name at the top of the staged root. A package never installs it.
extern const QString kReleaseEnvelopeName;

// Reads a release manifest payload. False, with `release` unchanged, unless the kind and schema
// are those of a release, the version is a non-empty string and the files follow the rules of a
// delta plan's inventory (at most 20000, 2147483648 bytes in all, no path twice after case
// folding) and name both launcher executables at the top.
bool parseReleaseManifest(const QByteArray& payload, ReleaseManifest& release);

// The release staged with the package, if one is. `found` says whether anything stands at the
// envelope's name; when it does, the envelope must verify, its payload be a release manifest and
// its version `version`, or the result is false with `message` set.
bool loadStagedRelease(const QString& stagedRoot, const QString& version,
                       const SignatureVerifier& verifier, FileOperations& files, bool& found,
                       ReleaseManifest& release, QString& message);

// Whether a full package's files (relative paths under `stagedRoot`) are exactly the release's,
// each of its size; their digests are checked as they are installed.
bool fullPackageMatchesRelease(const QString& stagedRoot, const QStringList& packageFiles,
                               const ReleaseManifest& release, FileOperations& files,
                               QString& message);

// Whether a delta plan's target inventory is exactly the release's files: path, size and digest.
bool deltaPlanMatchesRelease(const DeltaPlan& plan, const ReleaseManifest& release,
                             QString& message);
