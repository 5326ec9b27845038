// The repair plan, read through the file operations with the signed manifest of the tests'
// scenario beside it, so that a plan that keeps the scenario's identity goes on to the manifest.
// The staging directory is real, since the plan's location decides where the staged files are.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include "file_fixtures.h"
#include "fuzz_support.h"
#include "memory_file_operations.h"
#include "path_rules.h"
#include "repair_plan.h"
#include "repair_scenario.h"
#include "signing_fixtures.h"

namespace {

struct Staging {
    QTemporaryDir directory;
    QString planPath;
    QByteArray envelope;
};

const Staging& staging() {
    static const Staging made = [] {
        Staging staging;
        staging.planPath = staging.directory.filePath(QStringLiteral("staging/plan.json"));
        testsupport::RepairScenario scenario(staging.directory.path());
        if (!scenario.writeDocuments()) {
            fuzz::fail("the scenario could not be written");
        }
        staging.envelope = QJsonDocument(scenario.manifest).toJson(QJsonDocument::Compact);
        staging.envelope = testsupport::signEnvelope(staging.envelope);
        return staging;
    }();
    return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString planPath = staging().planPath;
    const QString stagingRoot = QFileInfo(planPath).absolutePath();
    MemoryFileOperations files(stagingRoot);
    files.files.insert(planPath, fuzz::bytesOf(data, size));
    files.files.insert(stagingRoot + QStringLiteral("/manifest.envelope.json"), staging().envelope);
    RepairPlan plan;
    int errorCode = 21;
    QString message;
    if (!loadRepairPlan(planPath, fuzz::testVerifier(), files, plan, errorCode, message)) {
        if (message.isEmpty() || (errorCode != 21 && errorCode != 22)) {
            fuzz::fail("a refused plan gave no reason or a wrong code");
        }
        return 0;
    }
    QSet<QString> folded;
    for (const QString& path : plan.files) {
        if (!isSafeRelativePath(path) || folded.contains(path.toCaseFolded())) {
            fuzz::fail("an accepted plan lists an unsafe or repeated path");
        }
        folded.insert(path.toCaseFolded());
    }
    if (plan.files.isEmpty() || plan.files.size() > 20000 || plan.generation < 1 ||
        QDir::cleanPath(plan.installationRoot) != plan.installationRoot ||
        QDir::isRelativePath(plan.installationRoot) || plan.stagingRoot != stagingRoot) {
        fuzz::fail("an accepted plan breaks its metadata rules");
    }
    return 0;
}
