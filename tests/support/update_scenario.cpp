#include "update_scenario.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

#include "file_fixtures.h"

namespace testsupport {

const QByteArray kDirectory = "<dir>";

UpdateScenario::UpdateScenario(const QString& directory, bool delta, const QString& rootName,
                               const QString& ackName)
    : directory(directory),
      delta(delta),
      root(directory + '/' + rootName),
      staging(directory + "/staged"),
      ack(directory + '/' + ackName),
      removed(delta ? QStringList{"old/x.dll", "plugins", "cache/gone.txt"} : QStringList()) {}

QString UpdateScenario::path(const QString& relative) const {
    return directory + '/' + relative;
}

QString UpdateScenario::planPath() const {
    return staging + "/launcher-update-plan.json";
}

bool UpdateScenario::write() const {
    const QString launcher = staging + "/ClientLauncher.exe";
    const QJsonObject plan{{"schemaVersion", 1},
                           {"fromVersion", "1.0"},
                           {"toVersion", "2.0"},
                           {"files", inventoryOf(after(false))},
                           {"replace", QJsonArray::fromStringList(staged.keys())},
                           {"remove", QJsonArray::fromStringList(removed)}};
    return writeTree(root, before()) && writeTree(staging, staged) &&
           QDir().mkpath(path("outside")) &&
           QFile::setPermissions(launcher, QFile::permissions(launcher) | QFileDevice::ExeOwner) &&
           (!delta || writeFile(planPath(), QJsonDocument(plan).toJson()));
}

QJsonArray UpdateScenario::releaseFiles() const {
    return inventoryOf(delta ? after(false) : staged);
}

FileTree UpdateScenario::before(bool directories) const {
    FileTree tree = old;
    for (const char* name :
         {"bin", "data", "old", "plugins", "plugins/sub", "cache", "saves", "saves/slot1"}) {
        tree.insert(name, kDirectory);
    }
    return directories ? tree : old;
}

FileTree UpdateScenario::after(bool directories) const {
    FileTree tree = before();
    tree.remove("data/d1");
    tree.insert(staged);
    tree.insert("new", kDirectory);
    tree.insert("new/deep", kDirectory);
    // A delta also takes old/x.dll with the directory it empties, plugins whole (but for the file
    // it installs anew there), and the empty cache, pruned by the removal of cache/gone.txt.
    for (const char* gone : {"old", "old/x.dll", "plugins/p1.dll", "cache"}) {
        if (delta) {
            tree.remove(gone);
        }
    }
    if (!directories) {
        tree.removeIf([](const auto& entry) { return entry.value() == kDirectory; });
    }
    return tree;
}

QStringList UpdateScenario::workDirectories() const {
    return entriesOf(root + "/.tavorin-update");
}

QJsonObject UpdateScenario::journal() const {
    const QStringList work = workDirectories();
    return work.size() != 1 ? QJsonObject()
                            : QJsonDocument::fromJson(readFile(root + "/.tavorin-update/" +
                                                               work.first() + "/journal.json"))
                                  .object();
}

QString UpdateScenario::inconsistency() const {
    const FileTree now = installationTree(root);
    const QStringList work = workDirectories();
    if (work.size() > 1) {
        return "more than one work directory";
    }
    const QJsonObject journal = this->journal();
    if (journal.value("phase") == "completed") {
        return now == after() ? QString() : "completed, but not the new installation";
    }
    if (journal.isEmpty()) {
        return now == before() || (QFile::exists(ack) && now == after())
                   ? QString()
                   : "no journal, and neither the old nor the new installation";
    }
    QStringList listed;
    for (const QJsonValue& entry : journal.value("files").toArray()) {
        listed << entry.toObject().value("path").toString();
    }
    const FileTree old = before();
    QStringList paths = now.keys() + old.keys();
    paths.removeDuplicates();
    for (const QString& path : paths) {
        const bool covered = std::any_of(listed.cbegin(), listed.cend(), [&](const QString& e) {
            return path == e || path == e + ".tavorin-new" || path.startsWith(e + '/') ||
                   e.startsWith(path + '/');
        });
        if (now.value(path, "<none>") != old.value(path, "<none>") && !covered) {
            return path + " changed but is not in the journal";
        }
    }
    const FileTree backup = fileTree(root + "/.tavorin-update/" + work.first() + "/backup", false);
    for (auto file = this->old.cbegin(); file != this->old.cend(); ++file) {
        if (now.value(file.key()) != file.value() && backup.value(file.key()) != file.value()) {
            return file.key() + " is neither in place nor in the backup";
        }
    }
    return QString();
}

}  // namespace testsupport
