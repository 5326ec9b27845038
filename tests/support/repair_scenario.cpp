#include "repair_scenario.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include "signing_fixtures.h"

namespace testsupport {

bool writeTree(const QString& root, const FileTree& files) {
    for (auto file = files.begin(); file != files.end(); ++file) {
        const QString path = QDir(root).filePath(file.key());
        const bool directory = file.value() == "<dir>";
        if (!QDir().mkpath(directory ? path : QFileInfo(path).path()) ||
            (!directory && !writeFile(path, file.value()))) {
            return false;
        }
    }
    return true;
}

FileTree fileTree(const QString& root, bool visibleOnly, bool directories) {
    FileTree tree;
    QDirIterator it(root,
                    QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot |
                        (directories ? QDir::Dirs : QDir::Filters()),
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        if (!visibleOnly || !relative.startsWith(QLatin1String(".tavorin-"))) {
            tree.insert(relative, it.fileInfo().isSymLink() ? QByteArray("<link>")
                                  : it.fileInfo().isDir()   ? QByteArray("<dir>")
                                                            : readFile(path));
        }
    }
    return tree;
}

QJsonArray inventoryOf(const FileTree& files) {
    QJsonArray inventory;
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        inventory.append(QJsonObject{
            {"path", file.key()},
            {"size", file.value().size()},
            {"sha256",
             QString::fromLatin1(
                 QCryptographicHash::hash(file.value(), QCryptographicHash::Sha256).toHex())}});
    }
    return inventory;
}

RepairScenario::RepairScenario(const QString& directory, bool layOut) : directory_(directory) {
    original_ = {{"a.dat", "old a"}, {"bin/b.dat", "old b, longer"}, {"keep.txt", "untouched"}};
    staged_ = {{"a.dat", "new a, of another size"},
               {"bin/b.dat", "new b, longer"},
               {"new/deep/c.dat", "created c"},
               {"d.dat", ""}};
    QJsonArray manifestFiles = inventoryOf(staged_);
    manifestFiles.append(
        QJsonObject{{"path", "extra.dat"}, {"size", 0}, {"sha256", QString(64, 'a')}});
    plan = {{"schemaVersion", 1}, {"manifestId", "m-1"},
            {"gameId", "game"},   {"channel", "stable"},
            {"generation", 7},    {"files", QJsonArray::fromStringList(staged_.keys())}};
    manifest = plan;
    manifest.insert("files", manifestFiles);
    if (!layOut) {
        return;
    }
    QDir(directory_).mkpath("outside");
    writeTree(root(), original_);
    writeTree(path("staging/files"), staged_);
}

QString RepairScenario::root() const {
    return path("inst");
}

QString RepairScenario::planPath() const {
    return path("staging/plan.json");
}

QString RepairScenario::path(const QString& relative) const {
    return QDir(directory_).filePath(relative);
}

bool RepairScenario::writeDocuments(const QString& installationRoot) {
    QJsonObject document = plan;
    if (!document.contains("installationRoot")) {
        document.insert("installationRoot", installationRoot.isEmpty() ? root() : installationRoot);
    }
    return writeFile(planPath(), QJsonDocument(document).toJson()) &&
           writeSignedEnvelope(path("staging/manifest.envelope.json"),
                               QJsonDocument(manifest).toJson(QJsonDocument::Compact));
}

bool RepairScenario::spoilStaging(bool spoiled) {
    QByteArray bytes = staged_.first();
    if (spoiled) {
        bytes.fill('x');
    }
    return writeFile(path("staging/files/") + staged_.firstKey(), bytes);
}

FileTree RepairScenario::repaired() const {
    FileTree tree = original_;
    tree.insert(staged_);
    return tree;
}

}  // namespace testsupport
