#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "command_line.h"
#include "console.h"
#include "delta_plan.h"
#include "file_hash.h"
#include "file_operations.h"
#include "inventory.h"
#include "package_checks.h"
#include "tool_files.h"
#include "tree_walk.h"

namespace {

const QLatin1String kPlanName("launcher-update-plan.json");
const QLatin1String kExecutables[] = {QLatin1String("ClientLauncher.exe"),
                                      QLatin1String("LauncherUpdater.exe")};
constexpr qint64 kMaxPackageBytes = 2147483648;
constexpr qsizetype kMaxPlanBytes = 4194304;

// What the updater takes as a launcher: its limits, no hidden entries, and both executables at
// the top in their exact case (the updater starts ClientLauncher.exe by that name).
bool walkLauncher(const QString& root, QList<TreeEntry>& entries, QString& message) {
    TreeRules rules;
    rules.refuseHidden = true;
    rules.maxTotalBytes = kMaxPackageBytes;
    if (!walkTree(root, rules, entries, message)) {
        return false;
    }
    for (const QLatin1String& executable : kExecutables) {
        const bool present = std::any_of(entries.cbegin(), entries.cend(), [&](const TreeEntry& e) {
            return !e.directory && e.path == executable;
        });
        if (!present) {
            message = QStringLiteral(
                          "%1 has no %2 at its top, and the updater needs both "
                          "ClientLauncher.exe and LauncherUpdater.exe there.")
                          .arg(QDir::toNativeSeparators(root), executable);
            return false;
        }
    }
    return true;
}

QString parentOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

// The paths of the old launcher that the new one no longer has, each named at the top of what
// goes: a directory that goes whole is one entry. An entry whose place the new launcher fills
// with a file is left to that file's replacement.
QStringList removedPaths(const QList<TreeEntry>& oldEntries, const QList<TreeEntry>& newEntries) {
    QHash<QString, bool> newKinds;  // folded path -> is a directory
    for (const TreeEntry& entry : newEntries) {
        newKinds.insert(foldedPath(entry.path), entry.directory);
    }
    QStringList removed;
    for (const TreeEntry& entry : oldEntries) {
        const auto kept = newKinds.constFind(foldedPath(entry.path));
        const bool goes = kept == newKinds.cend() || (kept.value() && !entry.directory);
        const QString parent = parentOf(entry.path);
        if (goes && (parent.isEmpty() || newKinds.value(foldedPath(parent), false))) {
            removed.append(entry.path);
        }
    }
    return removed;
}

QByteArray deltaPlanDocument(const Arguments& arguments, const QList<ManifestFile>& inventory,
                             const QStringList& replace, const QStringList& remove) {
    QJsonArray files;
    for (const ManifestFile& file : inventory) {
        files.append(manifestFileJson(file));
    }
    const QJsonObject plan{{QLatin1String("schemaVersion"), 1},
                           {QLatin1String("fromVersion"), arguments.value("--from-version")},
                           {QLatin1String("toVersion"), arguments.value("--version")},
                           {QLatin1String("files"), files},
                           {QLatin1String("replace"), QJsonArray::fromStringList(replace)},
                           {QLatin1String("remove"), QJsonArray::fromStringList(remove)}};
    return QJsonDocument(plan).toJson(QJsonDocument::Indented);
}

// The staged delta, read back with the updater's own checks, as the updater will read it.
bool checkStagedDelta(const Arguments& arguments, const QString& stagedRoot, QString& message) {
    DeltaPlan plan;
    FileOperations& files = systemFileOperations();
    if (loadDeltaPlan(QDir(stagedRoot).filePath(kPlanName), arguments.value("--from-version"),
                      arguments.value("--version"), plan, message) &&
        verifyDeltaStaging(stagedRoot, plan, files, message) &&
        verifyKeptFiles(QFileInfo(arguments.value("--from")).canonicalFilePath(), plan, files,
                        message)) {
        return true;
    }
    message = QStringLiteral("The updater would refuse this delta: %1").arg(message);
    return false;
}

}  // namespace

int deltaCommand(const Arguments& arguments) {
    if (arguments.value("--from-version").isEmpty() || arguments.value("--version").isEmpty()) {
        return usageError(arguments, QStringLiteral("the versions must not be empty."));
    }
    const QString from = arguments.value("--from");
    const QString to = arguments.value("--to");
    QList<TreeEntry> oldEntries;
    QList<TreeEntry> newEntries;
    QList<ManifestFile> inventory;
    QString message;
    if (!walkTree(from, TreeRules(), oldEntries, message) ||
        !walkLauncher(to, newEntries, message) ||
        !hashTreeFiles(to, newEntries, inventory, message)) {
        return refuse(arguments, message);
    }
    // Only an old file of the same path and size can be kept; only those are hashed.
    QHash<QString, qint64> newSizes;
    for (const ManifestFile& file : inventory) {
        newSizes.insert(file.path, file.size);
    }
    QList<TreeEntry> candidates;
    for (const TreeEntry& entry : oldEntries) {
        if (!entry.directory && newSizes.value(entry.path, -1) == entry.size) {
            candidates.append(entry);
        }
    }
    QList<ManifestFile> oldFiles;
    QHash<QString, QByteArray> oldDigests;
    if (!candidates.isEmpty() && !hashTreeFiles(from, candidates, oldFiles, message)) {
        return refuse(arguments, message);
    }
    for (const ManifestFile& file : oldFiles) {
        oldDigests.insert(file.path, file.sha256);
    }
    QStringList replace;
    for (const ManifestFile& file : inventory) {
        const bool executable = file.path == kExecutables[0] || file.path == kExecutables[1];
        if (executable || !digestsEqual(oldDigests.value(file.path), file.sha256)) {
            replace.append(file.path);
        }
    }
    const QStringList remove = removedPaths(oldEntries, newEntries);
    const QByteArray plan = deltaPlanDocument(arguments, inventory, replace, remove);
    if (remove.size() > kMaxTreeFiles || plan.size() > kMaxPlanBytes) {
        return refuse(arguments, QStringLiteral("The delta would remove more than %1 paths or "
                                                "need a plan over %2 bytes; stage a full package.")
                                     .arg(kMaxTreeFiles)
                                     .arg(kMaxPlanBytes));
    }

    NewDirectory staging;
    const QString output = arguments.value("--output");
    if (!staging.create(output, message)) {
        return refuse(arguments, message);
    }
    for (const QString& path : replace) {
        if (!staging.copyIn(QDir(to).filePath(path), path, message)) {
            return refuse(arguments, message);
        }
    }
    if (!writeOutputFile(QDir(staging.temporaryPath()).filePath(kPlanName), plan, message) ||
        !checkStagedDelta(arguments, staging.temporaryPath(), message) ||
        !staging.commit(message)) {
        return refuse(arguments, message);
    }
    for (const QString& path : replace) {
        printOut(QStringLiteral("replace %1").arg(path));
    }
    for (const QString& path : remove) {
        printOut(QStringLiteral("remove  %1").arg(path));
    }
    printOut(QStringLiteral("Staged the delta %1 -> %2 in %3: %4 files, %5 replaced, %6 removed.")
                 .arg(arguments.value("--from-version"), arguments.value("--version"),
                      QDir::toNativeSeparators(output))
                 .arg(inventory.size())
                 .arg(replace.size())
                 .arg(remove.size()));
    return kSucceeded;
}

int fullCommand(const Arguments& arguments) {
    const QString to = arguments.value("--to");
    const QString output = arguments.value("--output");
    QList<TreeEntry> entries;
    NewDirectory staging;
    QString message;
    if (!walkLauncher(to, entries, message) || !staging.create(output, message)) {
        return refuse(arguments, message);
    }
    qsizetype files = 0;
    qint64 bytes = 0;
    for (const TreeEntry& entry : entries) {
        const bool copied =
            entry.directory ? staging.makeDirectory(entry.path, message)
                            : staging.copyIn(QDir(to).filePath(entry.path), entry.path, message);
        if (!copied) {
            return refuse(arguments, message);
        }
        files += entry.directory ? 0 : 1;
        bytes += entry.size;
    }
    QStringList packageFiles;
    if (!scanFullPackage(staging.temporaryPath(), packageFiles, message)) {
        return refuse(arguments,
                      QStringLiteral("The updater would refuse this package: %1").arg(message));
    }
    if (!staging.commit(message)) {
        return refuse(arguments, message);
    }
    printOut(QStringLiteral("Staged a full package of %1 files (%2 bytes) in %3.")
                 .arg(files)
                 .arg(bytes)
                 .arg(QDir::toNativeSeparators(output)));
    return kSucceeded;
}
