#include "update_journal.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "file_operations.h"

QByteArray journalRecord(const UpdateEntry& entry) {
    return QJsonDocument(QJsonObject{
                             {QStringLiteral("path"), entry.path},
                             {QStringLiteral("hadOriginal"), entry.hadOriginal},
                             {QStringLiteral("replacement"), entry.replacement},
                         })
        .toJson(QJsonDocument::Compact);
}

bool writeUpdateJournal(const QString& journalPath, const QString& phase,
                        const QList<UpdateEntry>& entries, FileOperations& files,
                        QString& message) {
    // The compact form of {"files":[...],"phase":...,"schemaVersion":1}, members in key order,
    // put together from the entries' records.
    QByteArray document = "{\"files\":[";
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const UpdateEntry& entry = entries.at(i);
        if (i > 0) {
            document += ',';
        }
        document += entry.record.isEmpty() ? journalRecord(entry) : entry.record;
    }
    // The phases are fixed words, with nothing to escape.
    document += "],\"phase\":\"" + phase.toUtf8() + "\",\"schemaVersion\":1}";
    if (!files.writeFile(journalPath, document)) {
        message = QStringLiteral("Could not write the launcher update journal.");
        return false;
    }
    return true;
}
