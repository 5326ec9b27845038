#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "command_line.h"
#include "console.h"
#include "inventory.h"
#include "repair_plan.h"
#include "signature_verifier.h"
#include "tool_files.h"
#include "tree_walk.h"

int manifestCommand(const Arguments& arguments) {
    RepairPlan plan;
    plan.manifestId = arguments.value("--manifest-id");
    plan.gameId = arguments.value("--game-id");
    plan.channel = arguments.value("--channel");
    bool number = false;
    plan.generation = arguments.value("--generation").toLongLong(&number);
    if (plan.manifestId.isEmpty() || plan.gameId.isEmpty()) {
        return usageError(arguments, QStringLiteral("the manifest id and the game id must not be "
                                                    "empty."));
    }
    if (plan.channel != QLatin1String("stable") && plan.channel != QLatin1String("preview")) {
        return usageError(arguments, QStringLiteral("the channel must be stable or preview."));
    }
    if (!number || plan.generation < 1) {
        return usageError(arguments,
                          QStringLiteral("the generation must be a whole number from 1 up."));
    }

    const QString build = arguments.value("--build");
    QList<TreeEntry> entries;
    QList<ManifestFile> files;
    QString message;
    if (!walkTree(build, TreeRules(), entries, message) ||
        !hashTreeFiles(build, entries, files, message)) {
        return refuse(arguments, message);
    }
    QJsonArray fileArray;
    qint64 bytes = 0;
    for (const ManifestFile& file : files) {
        fileArray.append(manifestFileJson(file));
        bytes += file.size;
    }
    const QJsonObject manifest{{QLatin1String("schemaVersion"), 1},
                               {QLatin1String("manifestId"), plan.manifestId},
                               {QLatin1String("gameId"), plan.gameId},
                               {QLatin1String("channel"), plan.channel},
                               {QLatin1String("generation"), plan.generation},
                               {QLatin1String("files"), fileArray}};
    const QByteArray payload = QJsonDocument(manifest).toJson(QJsonDocument::Indented);
    if (payload.size() > SignatureVerifier::kMaxPayloadBytes) {
        return refuse(arguments, QStringLiteral("The manifest would hold %1 bytes, more than the "
                                                "%2 a signed envelope may carry.")
                                     .arg(payload.size())
                                     .arg(SignatureVerifier::kMaxPayloadBytes));
    }
    // Read back as the updater will, against a plan of the same build.
    if (!parseGameManifest(payload, plan, message)) {
        return refuse(arguments, message);
    }
    const QString output = arguments.value("--output");
    if (!writeOutputFile(output, payload, message)) {
        return refuse(arguments, message);
    }
    printOut(QStringLiteral("Wrote %1: %2 files, %3 bytes, %4 generation %5.")
                 .arg(QDir::toNativeSeparators(output))
                 .arg(files.size())
                 .arg(bytes)
                 .arg(plan.channel)
                 .arg(plan.generation));
    return kSucceeded;
}
