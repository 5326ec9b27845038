#include "update_scenario.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

#include "file_fixtures.h"

namespace testsupport {

namespace {

const QByteArray kDirectory = "<dir>";

FileTree withDirectories(FileTree files) {
    for (const QString& path : files.keys()) {
        for (qsizetype slash = path.indexOf('/'); slash > 0; slash = path.indexOf('/', slash + 1)) {
            files.insert(path.left(slash), kDirectory);
        }
    }
    return files;
}

}  // namespace

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
    for (const QString& empty : emptyDirectories) {
        if (!QDir().mkpath(root + '/' + empty)) {
            return false;
        }
    }
    if (!writeTree(root, old) || !writeTree(staging, staged) || !QDir().mkpath(path("outside")) ||
        !QFile::setPermissions(launcher, QFile::permissions(launcher) | QFileDevice::ExeOwner)) {
        return false;
    }
    return !delta ||
           writeFile(
               planPath(),
               QJsonDocument(QJsonObject{{"schemaVersion", 1},
                                         {"fromVersion", "1.0"},
                                         {"toVersion", "2.0"},
                                         {"files", inventoryOf(after(false))},
                                         {"replace", QJsonArray::fromStringList(staged.keys())},
                                         {"remove", QJsonArray::fromStringList(removed)}})
                   .toJson());
}

QJsonArray UpdateScenario::releaseFiles() const {
    return inventoryOf(delta ? after(false) : staged);
}

FileTree UpdateScenario::before(bool directories) const {
    if (!directories) {
        return old;
    }
    FileTree tree = withDirectories(old);
    for (const QString& empty : emptyDirectories) {
        tree.insert(withDirectories({{empty + "/x", {}}}));
        tree.remove(empty + "/x");
    }
    return tree;
}

FileTree UpdateScenario::after(bool directories) const {
    FileTree tree = old;
    const auto drop = [&tree](const QString& path) {
        tree.removeIf([&path](const auto& entry) {
            return entry.key() == path || entry.key().startsWith(path + '/');
        });
    };
    for (const QString& path : removed + staged.keys()) {
        drop(path);
    }
    tree.insert(staged);
    if (!directories) {
        return tree;
    }
    tree = withDirectories(tree);
    // An empty directory stays unless a removal below it pruned it.
    for (const QString& empty : emptyDirectories) {
        if (std::none_of(removed.cbegin(), removed.cend(),
                         [&empty](const QString& path) { return path.startsWith(empty + '/'); })) {
            tree.insert(empty, kDirectory);
        }
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
