#include "update_journal.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "file_operations.h"

bool writeUpdateJournal(const QString& journalPath, const QString& phase,
                        const QList<UpdateEntry>& entries, FileOperations& files,
                        QString& message) {
    QJsonArray array;
    for (const UpdateEntry& entry : entries) {
        array.append(QJsonObject{
            {QStringLiteral("path"), entry.path},
            {QStringLiteral("hadOriginal"), entry.hadOriginal},
            {QStringLiteral("replacement"), entry.replacement},
        });
    }
    const QJsonObject document{
        {QStringLiteral("schemaVersion"), 1},
        {QStringLiteral("phase"), phase},
        {QStringLiteral("files"), array},
    };
    if (!files.writeFile(journalPath, QJsonDocument(document).toJson(QJsonDocument::Compact))) {
        message = QStringLiteral("Could not write the launcher update journal.");
        return false;
    }
    return true;
}
