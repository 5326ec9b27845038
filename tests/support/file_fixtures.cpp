#include "file_fixtures.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace testsupport {

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList entriesOf(const QString& directory) {
    return QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                     QDir::System);
}

void applyPatch(QJsonObject& object, const QByteArray& patch) {
    const QJsonObject changes = QJsonDocument::fromJson(patch).object();
    for (auto change = changes.begin(); change != changes.end(); ++change) {
        if (change.value().isNull()) {
            object.remove(change.key());
        } else {
            object.insert(change.key(), change.value());
        }
    }
}

}  // namespace testsupport
