#include "repair_plan.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include "capped_read.h"
#include "file_operations.h"
#include "path_rules.h"
#include "signature_verifier.h"
#include "symlink_guard.h"

namespace {

constexpr qint64 kMaxPlanBytes = 1048576;
constexpr qsizetype kMaxFiles = 20000;
const QString kEnvelopeName = QStringLiteral("manifest.envelope.json");

bool readPlanDocument(const QString& planPath, FileOperations& files, RepairPlan& plan,
                      QString& message) {
    const QFileInfo planInfo(planPath);
    if (planInfo.isRelative() || entryTypeOf(planInfo.filePath()) != platform::EntryType::File) {
        message = QStringLiteral("The game repair plan path is invalid.");
        return false;
    }
    QByteArray bytes;
    if (!files.readFile(planInfo.absoluteFilePath(), kMaxPlanBytes, bytes)) {
        message = QStringLiteral("The game repair plan could not be read safely.");
        return false;
    }
    QJsonObject document;
    if (!readJsonObject(bytes, document)) {
        message = QStringLiteral("The game repair plan is not valid JSON.");
        return false;
    }
    // Where the staged files are comes from the plan's own location, never from its content.
    plan.stagingRoot = planInfo.absolutePath();
    plan.stagedFilesRoot = QDir(plan.stagingRoot).absoluteFilePath(QStringLiteral("files"));

    const QJsonArray listed = document.value(QStringLiteral("files")).toArray();
    const bool rootAccepted = resolveInstallationRoot(
        document.value(QStringLiteral("installationRoot")).toString(), plan);
    plan.manifestId = document.value(QStringLiteral("manifestId")).toString();
    plan.gameId = document.value(QStringLiteral("gameId")).toString();
    plan.channel = document.value(QStringLiteral("channel")).toString();
    plan.generation = document.value(QStringLiteral("generation")).toInteger(0);
    const int schemaVersion = document.value(QStringLiteral("schemaVersion")).toInt(0);
    if (schemaVersion != 1 || !rootAccepted || !QFileInfo(plan.stagedFilesRoot).isDir() ||
        plan.manifestId.isEmpty() || plan.gameId.isEmpty() ||
        (plan.channel != QLatin1String("stable") && plan.channel != QLatin1String("preview")) ||
        plan.generation < 1 || listed.isEmpty() || listed.size() > kMaxFiles) {
        message = QStringLiteral("The game repair plan contains invalid metadata.");
        return false;
    }
    QSet<QString> folded;
    for (const QJsonValue& value : listed) {
        const QString path = value.toString();
        const QString key = path.toCaseFolded();
        if (!isSafeRelativePath(path) || folded.contains(key)) {
            message = QStringLiteral("The game repair plan contains an unsafe file path.");
            return false;
        }
        folded.insert(key);
        plan.files.append(path);
    }
    return true;
}

}  // namespace

bool resolveInstallationRoot(const QString& text, RepairPlan& plan) {
    if (text.isEmpty() || QFileInfo(text).isRelative()) {
        return false;
    }
    plan.installationRoot = QDir::cleanPath(QFileInfo(text).absoluteFilePath());
    QString current = plan.installationRoot;
    for (;;) {
        // A dangling link does not "exist", but it is a link all the same.
        const platform::EntryType type = entryTypeOf(current);
        if (type != platform::EntryType::Missing && type != platform::EntryType::Directory) {
            return false;
        }
        const QFileInfo info(current);
        if (info.absoluteFilePath() == info.absolutePath()) {
            return true;
        }
        current = info.absolutePath();
    }
}

bool loadRepairPlan(const QString& planPath, const SignatureVerifier& verifier,
                    FileOperations& files, RepairPlan& plan, int& errorCode, QString& message) {
    if (!readPlanDocument(planPath, files, plan, message)) {
        return false;
    }
    QByteArray envelope;
    if (!files.readFile(QDir(plan.stagingRoot).absoluteFilePath(kEnvelopeName),
                        SignatureVerifier::kMaxEnvelopeBytes, envelope)) {
        errorCode = 22;
        message = QStringLiteral("The signed game manifest could not be read.");
        return false;
    }
    QByteArray payload;
    QString keyId;
    if (!verifier.verifyEnvelope(envelope, payload, keyId, message) ||
        !parseGameManifest(payload, plan, message)) {
        errorCode = 22;
        return false;
    }
    return true;
}

bool parseGameManifest(const QByteArray& payload, RepairPlan& plan, QString& message) {
    QJsonObject document;
    if (!readJsonObject(payload, document)) {
        message = QStringLiteral("The signed game manifest is not valid JSON.");
        return false;
    }
    const QJsonArray files = document.value(QStringLiteral("files")).toArray();
    if (document.value(QStringLiteral("schemaVersion")).toInt(0) != 1 || files.isEmpty() ||
        files.size() > kMaxFiles ||
        document.value(QStringLiteral("manifestId")).toString() != plan.manifestId ||
        document.value(QStringLiteral("gameId")).toString() != plan.gameId ||
        document.value(QStringLiteral("channel")).toString() != plan.channel ||
        document.value(QStringLiteral("generation")).toInteger(0) != plan.generation) {
        message = QStringLiteral("The signed game manifest does not match the repair plan.");
        return false;
    }
    QSet<QString> folded;
    for (const QJsonValue& value : files) {
        if (!value.isObject()) {
            message = QStringLiteral("The signed game manifest contains an invalid file entry.");
            return false;
        }
        ManifestFile file;
        const bool valid = readManifestFile(value.toObject(), file);
        const QString key = file.path.toCaseFolded();
        if (!valid || folded.contains(key)) {
            message = QStringLiteral("The signed game manifest contains unsafe file metadata.");
            return false;
        }
        folded.insert(key);
        plan.manifestFiles.insert(key, file);
    }
    return true;
}
