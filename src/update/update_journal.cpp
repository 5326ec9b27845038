#include "update_journal.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "file_operations.h"

bool writeUpdateJournal(const QString& journalPath, const QString& phase,
                        const QList<UpdateEntry>& entries, FileOperations& files,
                        QString& message) {
    QJsonArray listed;
    for (const UpdateEntry& entry : entries) {
        listed.append(QJsonObject{{QStringLiteral("path"), entry.path},
                                  {QStringLiteral("hadOriginal"), entry.hadOriginal},
                                  {QStringLiteral("replacement"), entry.replacement}});
    }
    const QJsonObject journal{{QStringLiteral("schemaVersion"), 1},
                              {QStringLiteral("phase"), phase},
                              {QStringLiteral("files"), listed}};
    if (!files.writeFile(journalPath, QJsonDocument(journal).toJson(QJsonDocument::Compact))) {
        message = QStringLiteral("Could not write the launcher update journal.");
        return false;
    }
    return true;
}
