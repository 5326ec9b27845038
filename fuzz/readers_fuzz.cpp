// The libFuzzer targets, one per reader of what an ordinary user can write: each is built from
// this file with LU_FUZZ_READER naming its function below, which hands the input to the reader
// and checks what it accepts or refuses apart from it. A broken invariant aborts the run. Qt's
// log lines are dropped: a reader that refuses input logs why, and millions of runs would flood
// the output.
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "delta_plan.h"
#include "file_operations.h"
#include "path_rules.h"
#include "release_manifest.h"
#include "repair_journal.h"
#include "repair_plan.h"
#include "repair_recovery.h"
#include "repair_scenario.h"
#include "signature_verifier.h"
#include "signing_fixtures.h"
#include "strict_base64url.h"

using namespace testsupport;

// The path rules written a second time, from their description alone and as plainly as can be,
// without path cleaning: the path_rules target checks that both give the same answer for every
// input.
namespace reference {

bool isReservedPathSegment(const QString& segment) {
    // Ends in a space or a dot, or the name before the first dot, without the spaces that end it
    // and one character at a time in upper case, is a device: COM or LPT with a digit 1 to 9 (or
    // a superscript 1 to 3), or one of the others.
    QString base = segment.left(segment.indexOf(QLatin1Char('.')));
    while (base.endsWith(QLatin1Char(' '))) {
        base.chop(1);
    }
    for (QChar& c : base) {
        c = c.toUpper();
    }
    return segment.endsWith(QLatin1Char(' ')) || segment.endsWith(QLatin1Char('.')) ||
           QStringList{"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}.contains(base) ||
           (base.size() == 4 && (base.startsWith("COM") || base.startsWith("LPT")) &&
            QStringLiteral("123456789\u00b9\u00b2\u00b3").contains(base[3]));
}

bool isSafeRelativePath(const QString& path) {
    if (path.isEmpty() || path.size() > 1024 || path.contains(QLatin1Char('\\')) ||
        path.contains(QLatin1Char(':')) || path.contains(QChar(0))) {
        return false;
    }
    const QStringList segments = path.split(QLatin1Char('/'));
    return std::none_of(segments.cbegin(), segments.cend(), [](const QString& segment) {
        return segment.isEmpty() || segment == "." || segment == ".." ||
               reference::isReservedPathSegment(segment);
    });
}

}  // namespace reference

namespace {

[[maybe_unused]] const bool logSilenced = [] {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return true;
}();

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "%s\n", what);
        std::abort();
    }
}

// A directory of this process's own, for the readers that take their input from files; in memory
// where the system has a file system there, since every run writes to it and flushes it.
QString scratch(const QString& relative) {
    static const QTemporaryDir directory(QDir("/dev/shm").exists() ? "/dev/shm/lu-fuzz-XXXXXX"
                                                                   : QString());
    return directory.filePath(relative);
}

// A verifier that trusts the tests' key ("launcher-test-1") and nothing else.
const SignatureVerifier& testVerifier() {
    static std::unique_ptr<SignatureVerifier> verifier;
    QString message;
    require(verifier || SignatureVerifier::fromTrustedKeyDocument(
                            readFile(QStringLiteral(LU_TEST_TRUSTED_KEYS)), verifier, message),
            "the tests' trusted key document could not be read");
    return *verifier;
}

QSet<QString> folded(QStringList paths) {
    for (QString& path : paths) {
        path = path.toCaseFolded();
    }
    return QSet<QString>(paths.cbegin(), paths.cend());
}

// The paths of an inventory the rules allow: 1 to 20000 files, each with a safe path, a size of
// at least 0 and at most `maxTotal` in all, a 32-byte digest, no path twice after case folding.
QStringList checkInventory(const QList<ManifestFile>& files, qint64 maxTotal) {
    QStringList paths;
    qint64 total = 0;
    for (const ManifestFile& file : files) {
        total += file.size;
        require(isSafeRelativePath(file.path) && file.size >= 0 && total <= maxTotal &&
                    file.sha256.size() == 32,
                "an accepted inventory holds a file outside the rules");
        paths.append(file.path);
    }
    require(!files.isEmpty() && files.size() <= 20000 && folded(paths).size() == paths.size(),
            "an accepted inventory is empty, too long or holds a path twice");
    return paths;
}

// Whether `text` is base64url of `bytes`: the canonical encoding but for the unused low bits of
// its last character, which the decoder ignores, and "=" padding only where a text whose length
// is a multiple of 4 ends in one or two.
bool encodes(const QString& text, const QByteArray& bytes) {
    const QString canonical = QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    QString bare = text;
    while (bare.endsWith(QLatin1Char('='))) {
        bare.chop(1);
    }
    const qsizetype padding = text.size() - bare.size();
    return bare.size() == canonical.size() && bare.chopped(1) == canonical.chopped(1) &&
           (padding == 0 || (text.size() % 4 == 0 && padding <= 2));
}

// The real operations (a link on the way is followed, as a mistake of recovery's own would
// have it), each removal and move checked first to stay in the installation: a finding must not
// reach the machine's own files.
struct Guarded final : FileOperationsWrapper {
    Guarded() : FileOperationsWrapper(systemFileOperations()) {}
    static bool in(const QString& path) {
        require((QDir::cleanPath(path) + QLatin1Char('/')).startsWith(scratch("inst/")),
                "recovery left the installation");
        return true;
    }
    bool rename(const QString& from, const QString& to) override {
        return in(from) && in(to) && FileOperationsWrapper::rename(from, to);
    }
    bool remove(const QString& path) override {
        return in(path) && FileOperationsWrapper::remove(path);
    }
};

}  // namespace

namespace readers {

// Against the plain second implementation above. The first byte picks how
// the rest becomes text: UTF-8 lets the dictionary's names through; UTF-16 reaches every code
// unit, NUL and lone surrogates among them.
void path_rules(const QByteArray& input) {
    const QByteArray rest =
        QByteArray::fromRawData(input.constData() + 1, qMax(input.size(), 1) - 1);
    QString path = QString::fromUtf8(rest);
    if (!input.isEmpty() && (input[0] & 1)) {
        path.resize(rest.size() / 2);
        std::memcpy(path.data(), rest.constData(), std::size_t(path.size()) * 2);
    }
    require(isSafeRelativePath(path) == reference::isSafeRelativePath(path) &&
                isReservedPathSegment(path) == reference::isReservedPathSegment(path),
            "the path rules disagree");
}

// Taken whole with every key id trimmed and within its length, or refused with a reason and no
// verifier.
void trusted_keys(const QByteArray& input) {
    std::unique_ptr<SignatureVerifier> verifier;
    QString message;
    if (!SignatureVerifier::fromTrustedKeyDocument(input, verifier, message)) {
        return require(!verifier && !message.isEmpty(), "a refused document left a verifier");
    }
    for (const QString& id : verifier->trustedKeyIds()) {
        require(
            !id.isEmpty() && id.size() <= SignatureVerifier::kMaxKeyIdLength && id == id.trimmed(),
            "an accepted document holds a key id outside the rules");
    }
}

// Under the tests' key. What the verifier accepts is checked again apart from it: the payload's
// and the signature's texts must be base64url of what was decoded, and the signature must be the
// one the key makes over exactly those bytes (Ed25519 signs deterministically, and no one
// without the private key can make another that holds).
void envelope(const QByteArray& input) {
    QByteArray payload;
    QByteArray unverified;
    QString keyId;
    QString unverifiedKeyId;
    QString message;
    const bool verified = testVerifier().verifyEnvelope(input, payload, keyId, message);
    const bool read =
        SignatureVerifier::readUnverifiedEnvelope(input, unverified, unverifiedKeyId, message);
    require(verified == !payload.isEmpty() && read == !unverified.isEmpty() &&
                (!verified || (read && payload == unverified && keyId == unverifiedKeyId)),
            "the verified and the unverified reading disagree");
    if (!read) {
        return;
    }
    const QJsonObject root = QJsonDocument::fromJson(input).object();
    const QString signatureText = root.value(QStringLiteral("signature")).toString();
    const QByteArray signature = decodeStrictBase64Url(signatureText);
    require(encodes(root.value(QStringLiteral("payload")).toString(), unverified) &&
                signature.size() == 64 && encodes(signatureText, signature) &&
                unverified.size() <= SignatureVerifier::kMaxPayloadBytes,
            "an envelope was read from text that is not base64url of it");
    require(!verified || (keyId == QLatin1String("launcher-test-1") &&
                          signature == testSigningKey().sign(payload)),
            "an envelope verified that the key did not sign");
}

// The signed game manifest's payload, against the plan the tests' scenario writes.
void game_manifest(const QByteArray& input) {
    RepairPlan plan{{}, {}, {}, "m-1", "game", "stable", 7, {}, {}};
    QString message;
    if (!parseGameManifest(input, plan, message)) {
        return require(!message.isEmpty(), "a refused manifest gave no reason");
    }
    checkInventory(plan.manifestFiles.values(), std::numeric_limits<qint64>::max());
}

// The signed release manifest's payload.
void release_manifest(const QByteArray& input) {
    ReleaseManifest release;
    if (!parseReleaseManifest(input, release)) {
        return require(release.version.isEmpty() && release.files.isEmpty(),
                       "a refused release was kept");
    }
    const QStringList paths = checkInventory(release.files, 2147483648LL);
    require(!release.version.isEmpty() && paths.contains(QLatin1String("ClientLauncher.exe")) &&
                paths.contains(QLatin1String("LauncherUpdater.exe")),
            "an accepted release lacks its version or an executable");
}

// The delta plan in a staged root, for the versions the tests' scenario updates between.
void delta_plan(const QByteArray& input) {
    const QString planPath = scratch(QStringLiteral("launcher-update-plan.json"));
    require(writeFile(planPath, input), "the input could not be written");
    DeltaPlan plan;
    QString message;
    if (!loadDeltaPlan(planPath, QStringLiteral("1.0"), QStringLiteral("2.0"),
                       systemFileOperations(), plan, message)) {
        return require(!message.isEmpty() && plan.files.isEmpty(), "a refused plan was kept");
    }
    const QStringList inventory = checkInventory(plan.files, 2147483648LL);
    const QSet<QString> replaced = folded(plan.replace);
    const QSet<QString> removed = folded(plan.remove);
    const auto listed = [&inventory](const QString& path) { return inventory.contains(path); };
    require(replaced.size() == plan.replace.size() && removed.size() == plan.remove.size() &&
                !removed.intersects(folded(inventory)) &&
                replaced.contains(QStringLiteral("clientlauncher.exe")) &&
                replaced.contains(QStringLiteral("launcherupdater.exe")) &&
                std::all_of(plan.remove.cbegin(), plan.remove.cend(), isSafeRelativePath) &&
                // Each replaced path spelled as in the inventory.
                std::all_of(plan.replace.cbegin(), plan.replace.cend(), listed),
            "an accepted delta plan breaks its lists' rules");
}

// The repair plan in the staging of the tests' scenario, with its signed manifest beside it, so
// that a plan that keeps the scenario's identity goes on to the manifest.
void repair_plan(const QByteArray& input) {
    static RepairScenario scenario(scratch(QString()));
    static const bool written = scenario.writeDocuments();
    require(written, "the scenario could not be written");
    require(writeFile(scenario.planPath(), input), "the input could not be written");
    RepairPlan plan;
    int errorCode = 21;
    QString message;
    if (!loadRepairPlan(scenario.planPath(), testVerifier(), systemFileOperations(), plan,
                        errorCode, message)) {
        return require(!message.isEmpty() && (errorCode == 21 || errorCode == 22),
                       "a refused plan gave no reason or a wrong code");
    }
    require(!plan.files.isEmpty() && plan.files.size() <= 20000 &&
                folded(plan.files).size() == plan.files.size() && plan.generation >= 1 &&
                QDir::cleanPath(plan.installationRoot) == plan.installationRoot &&
                !QDir::isRelativePath(plan.installationRoot) &&
                plan.stagingRoot == QFileInfo(scenario.planPath()).absolutePath() &&
                std::all_of(plan.files.cbegin(), plan.files.cend(), isSafeRelativePath),
            "an accepted plan breaks its rules");
}

// Recovery from a repair journal, over an installation on disk that a repair of the tests'
// scenario was interrupted in: two files replaced, one copy left beside its target, and links
// that lead outside. Nothing outside the installation may change, through a link or otherwise.
void repair_journal(const QByteArray& input) {
    const FileTree outside = {{"x.dat", "outside"}};
    RepairPlan plan;
    plan.installationRoot = scratch(QStringLiteral("inst"));
    plan.generation = 7;
    QDir root(plan.installationRoot);
    require(root.removeRecursively() && writeTree(scratch("outside"), outside) &&
                writeTree(root.path(), {{"a.dat", "new a"},
                                        {"bin/b.dat", "new b"},
                                        {"new/c.dat.tavorin-new", "half c"},
                                        {".tavorin-backup/7/a.dat", "old a"},
                                        {".tavorin-backup/7/bin/b.dat", "old b"}}) &&
                QFile::link(scratch("outside"), root.filePath("linked")) &&
                QFile::link(scratch("outside"), root.filePath(".tavorin-backup/7/out")),
            "the installation could not be laid out");
    const QString journal = repairJournalPath(plan.installationRoot);
    require(writeFile(journal, input), "the input could not be written");
    Guarded files;
    QString message;
    require(recoverInterruptedRepair(plan, files, message) != QFileInfo::exists(journal),
            "recovery's answer and the journal left behind disagree");
    require(fileTree(scratch("outside"), false, true) == outside,
            "recovery changed something outside the installation");
}

}  // namespace readers

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Without a copy, which would hide reads past the input's end from the sanitizer.
    readers::LU_FUZZ_READER(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
