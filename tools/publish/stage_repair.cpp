#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <memory>

#include "capped_read.h"
#include "command_line.h"
#include "console.h"
#include "file_hash.h"
#include "inventory.h"
#include "repair_plan.h"
#include "signature_verifier.h"
#include "symlink_guard.h"
#include "tool_files.h"

namespace {

// The cap under which the updater reads a repair plan.
constexpr qsizetype kMaxPlanBytes = 1048576;

// The payload of `envelope`, verified against the trusted keys when they are given and checked
// for everything but its signature otherwise.
bool readEnvelope(const Arguments& arguments, const QByteArray& envelope, QByteArray& payload,
                  QString& message) {
    QString keyId;
    if (!arguments.has("--trusted-keys")) {
        printError(QStringLiteral("launcher-publish %1: the envelope's signature is not checked "
                                  "without --trusted-keys.")
                       .arg(arguments.command));
        return SignatureVerifier::readUnverifiedEnvelope(envelope, payload, keyId, message);
    }
    std::unique_ptr<SignatureVerifier> verifier;
    return loadTrustedKeys(arguments.value("--trusted-keys"), verifier, message) &&
           verifier->verifyEnvelope(envelope, payload, keyId, message);
}

// Fills `plan` from the manifest's own header and checks the manifest against it as the updater
// will; `paths` receives the manifest's paths in its order.
bool readManifest(const QByteArray& payload, RepairPlan& plan, QStringList& paths,
                  QString& message) {
    QJsonObject manifest;
    if (!readJsonObject(payload, manifest)) {
        message = QStringLiteral("The signed game manifest is not valid JSON.");
        return false;
    }
    plan.manifestId = manifest.value(QLatin1String("manifestId")).toString();
    plan.gameId = manifest.value(QLatin1String("gameId")).toString();
    plan.channel = manifest.value(QLatin1String("channel")).toString();
    plan.generation = manifest.value(QLatin1String("generation")).toInteger(0);
    // The plan written from these must pass the updater's own plan rules.
    if (plan.manifestId.isEmpty() || plan.gameId.isEmpty() || plan.generation < 1 ||
        (plan.channel != QLatin1String("stable") && plan.channel != QLatin1String("preview"))) {
        message = QStringLiteral(
            "The signed game manifest's ids, channel or generation are not "
            "ones a repair plan may carry.");
        return false;
    }
    if (!parseGameManifest(payload, plan, message)) {
        return false;
    }
    for (const QJsonValue& element : manifest.value(QLatin1String("files")).toArray()) {
        paths.append(element.toObject().value(QLatin1String("path")).toString());
    }
    return true;
}

// True when the file under `root` is the signed one; false with `message` empty when it differs
// or is missing, and with `message` set when it could not be read.
bool matchesSigned(const QString& root, const QString& path, const ManifestFile& signedFile,
                   QString& message) {
    const QString file = QDir(root).filePath(path);
    qint64 size = -1;
    if (entryTypeOf(file, &size) != platform::EntryType::File || size != signedFile.size) {
        return false;
    }
    return digestsEqual(hashFileSha256(file, message), signedFile.sha256);
}

QString linkRefusal(const QString& root, const QString& path) {
    return QStringLiteral("%1 lies behind a symbolic link, which the repair refuses.")
        .arg(displayPath(root, path));
}

QByteArray planDocument(const RepairPlan& plan, const QStringList& files) {
    const QJsonObject document{{QLatin1String("schemaVersion"), 1},
                               {QLatin1String("installationRoot"), plan.installationRoot},
                               {QLatin1String("manifestId"), plan.manifestId},
                               {QLatin1String("gameId"), plan.gameId},
                               {QLatin1String("channel"), plan.channel},
                               {QLatin1String("generation"), plan.generation},
                               {QLatin1String("files"), QJsonArray::fromStringList(files)}};
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

}  // namespace

int stageRepairCommand(const Arguments& arguments) {
    const QString envelopePath = arguments.value("--envelope");
    const QString build = arguments.value("--build");
    const QString installation = arguments.value("--installation");
    QByteArray envelope;
    QByteArray payload;
    RepairPlan plan;
    QStringList paths;
    QString message;
    if (!readInputFile(envelopePath, SignatureVerifier::kMaxEnvelopeBytes, envelope, message) ||
        !readEnvelope(arguments, envelope, payload, message) ||
        !readManifest(payload, plan, paths, message)) {
        return refuse(arguments, message);
    }
    if (!QFileInfo(installation).isDir() || !QFileInfo(build).isDir()) {
        return refuse(arguments, QStringLiteral("The installation and the build must be existing "
                                                "directories."));
    }
    if (!resolveInstallationRoot(QFileInfo(installation).absoluteFilePath(), plan)) {
        return refuse(arguments, QStringLiteral("%1 lies under a symbolic link, which the repair "
                                                "refuses.")
                                     .arg(QDir::toNativeSeparators(installation)));
    }

    QStringList damaged;
    {
        Progress progress(QStringLiteral("checking %1").arg(QDir::toNativeSeparators(installation)),
                          paths.size());
        for (const QString& path : paths) {
            const ManifestFile& signedFile = plan.manifestFiles[foldedPath(path)];
            if (hasSymbolicLinkAlong(plan.installationRoot, path)) {
                return refuse(arguments, linkRefusal(installation, path));
            }
            message.clear();
            if (!matchesSigned(plan.installationRoot, path, signedFile, message)) {
                if (!message.isEmpty()) {
                    return refuse(arguments, message);
                }
                damaged.append(path);
            }
            progress.advance(signedFile.size);
        }
    }
    if (damaged.isEmpty()) {
        printOut(QStringLiteral("Nothing to repair: all %1 files of %2 match the manifest.")
                     .arg(paths.size())
                     .arg(QDir::toNativeSeparators(installation)));
        return kSucceeded;
    }

    // The replacements must be the signed files, or the updater refuses the whole repair.
    for (const QString& path : damaged) {
        if (hasSymbolicLinkAlong(QFileInfo(build).absoluteFilePath(), path)) {
            return refuse(arguments, linkRefusal(build, path));
        }
        message.clear();
        if (!matchesSigned(build, path, plan.manifestFiles[foldedPath(path)], message)) {
            return refuse(arguments, message.isEmpty()
                                         ? QStringLiteral("%1 is not the file the manifest signs.")
                                               .arg(displayPath(build, path))
                                         : message);
        }
    }
    const QByteArray planBytes = planDocument(plan, damaged);
    if (planBytes.size() > kMaxPlanBytes) {
        return refuse(arguments, QStringLiteral("The repair plan would exceed the %1 bytes the "
                                                "updater reads; repair in smaller parts.")
                                     .arg(kMaxPlanBytes));
    }
    NewDirectory staging;
    const QString output = arguments.value("--output");
    if (!staging.create(output, message) ||
        !staging.makeDirectory(QStringLiteral("files"), message)) {
        return refuse(arguments, message);
    }
    for (const QString& path : damaged) {
        if (!staging.copyIn(QDir(build).filePath(path), QStringLiteral("files/") + path, message)) {
            return refuse(arguments, message);
        }
    }
    const QDir temporary(staging.temporaryPath());
    if (!writeOutputFile(temporary.filePath(QStringLiteral("manifest.envelope.json")), envelope,
                         message) ||
        !writeOutputFile(temporary.filePath(QStringLiteral("plan.json")), planBytes, message) ||
        !staging.commit(message)) {
        return refuse(arguments, message);
    }
    for (const QString& path : damaged) {
        printOut(path);
    }
    printOut(QStringLiteral("Staged %1 of %2 files for repair in %3.")
                 .arg(damaged.size())
                 .arg(paths.size())
                 .arg(QDir::toNativeSeparators(output)));
    return kSucceeded;
}
