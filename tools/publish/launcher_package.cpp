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
#include "release_manifest.h"
#include "signature_verifier.h"
#include "signing.h"
#include "tool_files.h"
#include "tree_walk.h"
#include "update_checks.h"

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
    // The updater never installs that name: it is where a signed release travels.
    if (std::any_of(entries.cbegin(), entries.cend(),
                    [](const TreeEntry& e) { return e.path == kReleaseEnvelopeName; })) {
        message = QStringLiteral(
                      "%1 has %2 at its top, a name the updater keeps for the signed "
                      "release and never installs.")
                      .arg(QDir::toNativeSeparators(root), kReleaseEnvelopeName);
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

// How a release is signed, if it is: --private-key with --key-id, and for a full package the
// version (a delta has its own). False with the usage problem.
bool readSigningSwitches(const Arguments& arguments, bool& signing, QString& problem) {
    const bool full = arguments.command == QLatin1String("full");
    signing = arguments.has("--private-key") || arguments.has("--key-id");
    if (signing && !(arguments.has("--private-key") && arguments.has("--key-id"))) {
        problem = QStringLiteral("--private-key and --key-id sign the release together.");
    } else if (signing && !validKeyId(arguments.value("--key-id"))) {
        problem = QStringLiteral("the key id must be 1 to 100 characters.");
    } else if (full && arguments.has("--version") != signing) {
        problem = QStringLiteral(
            "--version is the version of a signed release; give it with "
            "--private-key and --key-id.");
    } else if (full && signing && arguments.value("--version").isEmpty()) {
        problem = QStringLiteral("the version must not be empty.");
    } else {
        return true;
    }
    return false;
}

// The release manifest of a launcher: compact, members in order, as the updater reads it.
QByteArray releaseManifestDocument(const QString& version, const QList<ManifestFile>& files) {
    QJsonArray list;
    for (const ManifestFile& file : files) {
        list.append(manifestFileJson(file));
    }
    const QJsonObject release{{QLatin1String("files"), list},
                              {QLatin1String("kind"), QLatin1String("launcher-release")},
                              {QLatin1String("schemaVersion"), 1},
                              {QLatin1String("version"), version}};
    return QJsonDocument(release).toJson(QJsonDocument::Compact);
}

// With the signing switches, signs the release of `files` into the staging; `verifier` then
// trusts the signing key, and otherwise none.
bool stageRelease(const Arguments& arguments, bool signing, const QString& version,
                  const QList<ManifestFile>& files, const QString& stagedRoot,
                  std::unique_ptr<SignatureVerifier>& verifier, QString& message) {
    verifier = verifierTrustingNothing();
    QByteArray envelope;
    return !signing ||
           (signPayload(arguments.value("--private-key"), arguments.value("--key-id"),
                        releaseManifestDocument(version, files), envelope, verifier, message) &&
            writeOutputFile(QDir(stagedRoot).filePath(kReleaseEnvelopeName), envelope, message));
}

// The staging, read back with the updater's own checks, as an elevated run reads it when it is
// signed.
bool checkStaged(const Arguments& arguments, const QString& stagedRoot, const QString& version,
                 bool signing, const SignatureVerifier& verifier, QString& message) {
    UpdateRequest request;
    request.stagedRoot = stagedRoot;
    request.version = version;
    request.elevated = signing;
    const bool delta = arguments.command == QLatin1String("delta");
    if (delta) {
        request.installRoot = QFileInfo(arguments.value("--from")).canonicalFilePath();
        request.deltaPlanPath = QDir(stagedRoot).filePath(kPlanName);
        request.fromVersion = arguments.value("--from-version");
    }
    UpdateWork work;
    if (checkUpdatePackage(request, verifier, systemFileOperations(), work, message)) {
        return true;
    }
    message = QStringLiteral("The updater would refuse this %1: %2")
                  .arg(delta ? QStringLiteral("delta") : QStringLiteral("package"), message);
    return false;
}

void printSigned(const Arguments& arguments, bool signing, const QString& version) {
    if (signing) {
        printOut(QStringLiteral("Signed the release %1 with %2 into %3.")
                     .arg(version, arguments.value("--key-id").trimmed(),
                          QDir::toNativeSeparators(
                              QDir(arguments.value("--output")).filePath(kReleaseEnvelopeName))));
    }
}

}  // namespace

int deltaCommand(const Arguments& arguments) {
    if (arguments.value("--from-version").isEmpty() || arguments.value("--version").isEmpty()) {
        return usageError(arguments, QStringLiteral("the versions must not be empty."));
    }
    bool signing = false;
    QString problem;
    if (!readSigningSwitches(arguments, signing, problem)) {
        return usageError(arguments, problem);
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
    const QString version = arguments.value("--version");
    std::unique_ptr<SignatureVerifier> verifier;
    if (!writeOutputFile(QDir(staging.temporaryPath()).filePath(kPlanName), plan, message) ||
        !stageRelease(arguments, signing, version, inventory, staging.temporaryPath(), verifier,
                      message) ||
        !checkStaged(arguments, staging.temporaryPath(), version, signing, *verifier, message) ||
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
    printSigned(arguments, signing, version);
    return kSucceeded;
}

int fullCommand(const Arguments& arguments) {
    bool signing = false;
    QString message;
    if (!readSigningSwitches(arguments, signing, message)) {
        return usageError(arguments, message);
    }
    const QString to = arguments.value("--to");
    const QString output = arguments.value("--output");
    const QString version = arguments.value("--version");
    QList<TreeEntry> entries;
    NewDirectory staging;
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
    // What is signed is what was staged, hashed where it lies.
    QList<ManifestFile> release;
    std::unique_ptr<SignatureVerifier> verifier;
    if ((signing && !hashTreeFiles(staging.temporaryPath(), entries, release, message)) ||
        !stageRelease(arguments, signing, version, release, staging.temporaryPath(), verifier,
                      message) ||
        !checkStaged(arguments, staging.temporaryPath(), version, signing, *verifier, message) ||
        !staging.commit(message)) {
        return refuse(arguments, message);
    }
    printOut(QStringLiteral("Staged a full package of %1 files (%2 bytes) in %3.")
                 .arg(files)
                 .arg(bytes)
                 .arg(QDir::toNativeSeparators(output)));
    printSigned(arguments, signing, version);
    return kSucceeded;
}
