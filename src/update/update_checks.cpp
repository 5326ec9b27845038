#include "update_checks.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include "file_operations.h"
#include "native_path.h"
#include "package_checks.h"
#include "release_manifest.h"

namespace {

const QString kPlanFileName = QStringLiteral("launcher-update-plan.json");

bool checkDelta(const UpdateRequest& request, const ReleaseManifest* release, FileOperations& files,
                UpdateWork& work, QString& message) {
    // Only the plan that travels with the staged files describes them.
    if (!isSamePath(request.deltaPlanPath, QDir(request.stagedRoot).filePath(kPlanFileName))) {
        message =
            QStringLiteral("Launcher delta plan must be the staged launcher-update-plan.json.");
        return false;
    }
    DeltaPlan& plan = work.plan;
    if (!loadDeltaPlan(request.deltaPlanPath, request.fromVersion, request.version, files, plan,
                       message) ||
        (release != nullptr && !deltaPlanMatchesRelease(plan, *release, message)) ||
        !verifyDeltaStaging(request.stagedRoot, plan, files, message) ||
        !verifyKeptFiles(request.installRoot, plan, files, message)) {
        return false;
    }
    for (const ManifestFile& file : plan.files) {
        work.digests.insert(file.path, file.sha256);
    }
    work.replace = plan.replace;
    work.remove = plan.remove;
    return true;
}

// The files of the installation that stand where a full package needs a directory: they go
// first, as a delta's plan would take them away. A link there is left to the link checks.
QStringList filesInTheWay(const QString& installRoot, const QStringList& replace,
                          FileOperations& files) {
    QStringList inTheWay;
    QSet<QString> seen;
    for (const QString& path : replace) {
        for (qsizetype slash = path.indexOf(QLatin1Char('/')); slash > 0;
             slash = path.indexOf(QLatin1Char('/'), slash + 1)) {
            const QString above = path.left(slash);
            if (!seen.contains(above)) {
                seen.insert(above);
                if (files.regularFileSize(QDir(installRoot).absoluteFilePath(above)) >= 0) {
                    inTheWay.append(above);
                }
            }
        }
    }
    return inTheWay;
}

}  // namespace

bool checkUpdatePackage(const UpdateRequest& request, const SignatureVerifier& verifier,
                        FileOperations& files, UpdateWork& work, QString& message) {
    bool released = false;
    ReleaseManifest release;
    if (!loadStagedRelease(request.stagedRoot, request.version, verifier, files, released, release,
                           message)) {
        return false;
    }
    if (request.elevated && !released) {
        message = QStringLiteral("An elevated launcher update needs a signed release manifest.");
        return false;
    }
    work.delta = !request.deltaPlanPath.isEmpty();
    if (work.delta) {
        return checkDelta(request, released ? &release : nullptr, files, work, message);
    }
    if (!scanFullPackage(request.stagedRoot, work.replace, message) ||
        (released &&
         !fullPackageMatchesRelease(request.stagedRoot, work.replace, release, files, message))) {
        return false;
    }
    for (const ManifestFile& file : release.files) {
        work.digests.insert(file.path, file.sha256);
    }
    work.remove = filesInTheWay(request.installRoot, work.replace, files);
    return true;
}
