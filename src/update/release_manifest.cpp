#include "release_manifest.h"

#include <QDir>
#include <QJsonObject>

#include "capped_read.h"
#include "file_hash.h"
#include "file_operations.h"
#include "signature_verifier.h"

const QString kReleaseEnvelopeName = QStringLiteral("launcher-release.envelope.json");

namespace {

const QString kMismatch =
    QStringLiteral("Launcher package does not match its signed release manifest.");

}  // namespace

bool parseReleaseManifest(const QByteArray& payload, ReleaseManifest& release) {
    QJsonObject document;
    if (!readJsonObject(payload, document)) {
        return false;
    }
    const QJsonValue version = document.value(QStringLiteral("version"));
    const QJsonArray elements = document.value(QStringLiteral("files")).toArray();
    ReleaseManifest read;
    QHash<QString, qsizetype> byFolded;
    if (document.value(QStringLiteral("kind")).toString() != QLatin1String("launcher-release") ||
        document.value(QStringLiteral("schemaVersion")).toInt(0) != 1 || !version.isString() ||
        version.toString().isEmpty() || elements.isEmpty() ||
        elements.size() > kMaxInventoryFiles ||
        !readUpdateInventory(elements, read.files, byFolded)) {
        return false;
    }
    // The release names what the updater will start, in the case it starts it by.
    for (const char* executable : {"ClientLauncher.exe", "LauncherUpdater.exe"}) {
        const auto at = byFolded.constFind(QString::fromLatin1(executable).toCaseFolded());
        if (at == byFolded.cend() || read.files.at(*at).path != QLatin1String(executable)) {
            return false;
        }
    }
    read.version = version.toString();
    release = read;
    return true;
}

bool loadStagedRelease(const QString& stagedRoot, const QString& version,
                       const SignatureVerifier& verifier, FileOperations& files, bool& found,
                       ReleaseManifest& release, QString& message) {
    const QString path = QDir(stagedRoot).absoluteFilePath(kReleaseEnvelopeName);
    found = files.exists(path);
    if (!found) {
        return true;
    }
    // Whatever cannot be read (a link on the way, a directory, too large) reaches the verifier
    // as no envelope at all, and is refused in its words.
    QByteArray envelope;
    if (!files.hasLinkAlong(stagedRoot, kReleaseEnvelopeName)) {
        files.readFile(path, SignatureVerifier::kMaxEnvelopeBytes, envelope);
    }
    QByteArray payload;
    QString keyId;
    if (!verifier.verifyEnvelope(envelope, payload, keyId, message)) {
        return false;
    }
    if (!parseReleaseManifest(payload, release)) {
        message = QStringLiteral("Launcher release manifest is invalid.");
        return false;
    }
    if (release.version != version) {
        message = QStringLiteral("Launcher release manifest is for another version.");
        return false;
    }
    return true;
}

bool fullPackageMatchesRelease(const QString& stagedRoot, const QStringList& packageFiles,
                               const ReleaseManifest& release, FileOperations& files,
                               QString& message) {
    QHash<QString, qint64> sizes;
    for (const ManifestFile& file : release.files) {
        sizes.insert(file.path, file.size);
    }
    bool matches = packageFiles.size() == release.files.size();
    for (qsizetype i = 0; matches && i < packageFiles.size(); ++i) {
        // A path the release does not list never matches, not even a file gone since the walk.
        const auto size = sizes.constFind(packageFiles.at(i));
        matches = size != sizes.cend() &&
                  *size == files.regularFileSize(QDir(stagedRoot).absoluteFilePath(size.key()));
    }
    if (!matches) {
        message = kMismatch;
    }
    return matches;
}

bool deltaPlanMatchesRelease(const DeltaPlan& plan, const ReleaseManifest& release,
                             QString& message) {
    QHash<QString, const ManifestFile*> signedFiles;
    for (const ManifestFile& file : release.files) {
        signedFiles.insert(file.path, &file);
    }
    bool matches = plan.files.size() == release.files.size();
    for (qsizetype i = 0; matches && i < plan.files.size(); ++i) {
        const ManifestFile& file = plan.files.at(i);
        const ManifestFile* signedFile = signedFiles.value(file.path);
        matches = signedFile != nullptr && signedFile->size == file.size &&
                  digestsEqual(signedFile->sha256, file.sha256);
    }
    if (!matches) {
        message = kMismatch;
    }
    return matches;
}
