#include "delta_plan.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include "capped_read.h"
#include "file_operations.h"
#include "path_rules.h"

namespace {

constexpr qint64 kMaxPlanBytes = 4194304;
constexpr qint64 kMaxTotalBytes = 2147483648LL;

bool fieldsValid(const QJsonObject& document, const QString& fromVersion, const QString& version) {
    const QJsonValue files = document.value(QStringLiteral("files"));
    const QJsonValue replace = document.value(QStringLiteral("replace"));
    const QJsonValue remove = document.value(QStringLiteral("remove"));
    return document.value(QStringLiteral("schemaVersion")).toInt(0) == 1 &&
           document.value(QStringLiteral("fromVersion")).toString() == fromVersion &&
           document.value(QStringLiteral("toVersion")).toString() == version && files.isArray() &&
           replace.isArray() && remove.isArray() && !files.toArray().isEmpty() &&
           files.toArray().size() <= kMaxInventoryFiles && !replace.toArray().isEmpty() &&
           replace.toArray().size() <= kMaxInventoryFiles &&
           remove.toArray().size() <= kMaxInventoryFiles;
}

// The entries of a replace or remove list: strings, safe, never twice (case-folded), and in the
// inventory or not, as `mustBeInInventory` says.
bool readPathList(const QJsonArray& entries, const QHash<QString, qsizetype>& inventory,
                  bool mustBeInInventory, QStringList& paths, QSet<QString>& folded) {
    for (const QJsonValue& entry : entries) {
        const QString path = entry.toString();
        const QString key = path.toCaseFolded();
        if (!entry.isString() || !isSafeRelativePath(path) ||
            inventory.contains(key) != mustBeInInventory || folded.contains(key)) {
            return false;
        }
        folded.insert(key);
        paths.append(path);
    }
    return true;
}

}  // namespace

bool readUpdateInventory(const QJsonArray& elements, QList<ManifestFile>& files,
                         QHash<QString, qsizetype>& byFolded) {
    qint64 total = 0;
    for (const QJsonValue& element : elements) {
        ManifestFile file;
        if (!element.isObject() || !readManifestFile(element.toObject(), file) ||
            file.size > kMaxTotalBytes || total > kMaxTotalBytes - file.size ||
            byFolded.contains(file.path.toCaseFolded())) {
            return false;
        }
        total += file.size;
        byFolded.insert(file.path.toCaseFolded(), files.size());
        files.append(file);
    }
    return true;
}

bool loadDeltaPlan(const QString& planPath, const QString& fromVersion, const QString& version,
                   FileOperations& files, DeltaPlan& plan, QString& message) {
    QByteArray bytes;
    if (!files.readFile(planPath, kMaxPlanBytes, bytes)) {
        message = QStringLiteral("Launcher delta plan is missing or too large.");
        return false;
    }
    QJsonObject object;
    if (!readJsonObject(bytes, object)) {
        message = QStringLiteral("Launcher delta plan is invalid JSON.");
        return false;
    }
    if (!fieldsValid(object, fromVersion, version)) {
        message = QStringLiteral("Launcher delta plan fields are invalid.");
        return false;
    }
    DeltaPlan read;
    QHash<QString, qsizetype> inventory;
    if (!readUpdateInventory(object.value(QStringLiteral("files")).toArray(), read.files,
                             inventory)) {
        message = QStringLiteral("Launcher delta target inventory is invalid.");
        return false;
    }
    QSet<QString> replaced;
    if (!readPathList(object.value(QStringLiteral("replace")).toArray(), inventory, true,
                      read.replace, replaced)) {
        message = QStringLiteral("Launcher delta replacement list is invalid.");
        return false;
    }
    // Handed on in the inventory's spelling, which is how the staging and result are measured.
    for (QString& path : read.replace) {
        path = read.files.at(inventory.value(path.toCaseFolded())).path;
    }
    if (!replaced.contains(QStringLiteral("clientlauncher.exe")) ||
        !replaced.contains(QStringLiteral("launcherupdater.exe"))) {
        message = QStringLiteral("Launcher delta does not replace both launcher executables.");
        return false;
    }
    QSet<QString> removed;
    if (!readPathList(object.value(QStringLiteral("remove")).toArray(), inventory, false,
                      read.remove, removed)) {
        message = QStringLiteral("Launcher delta removal list is invalid.");
        return false;
    }
    read.fromVersion = object.value(QStringLiteral("fromVersion")).toString();
    read.toVersion = object.value(QStringLiteral("toVersion")).toString();
    plan = read;
    return true;
}
