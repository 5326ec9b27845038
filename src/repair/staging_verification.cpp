#include "staging_verification.h"

#include <QDir>

#include "file_hash.h"
#include "file_operations.h"

bool verifyRepairStaging(const RepairPlan& plan, FileOperations& files, QString& message) {
    for (const QString& path : plan.files) {
        const auto signedFile = plan.manifestFiles.constFind(path.toCaseFolded());
        if (signedFile == plan.manifestFiles.constEnd()) {
            message =
                QStringLiteral("The repair plan references a file outside the signed manifest.");
            return false;
        }
        if (files.hasLinkAlong(plan.stagedFilesRoot, path)) {
            message = QStringLiteral("The repair staging directory contains a symbolic link.");
            return false;
        }
        const QString staged = QDir(plan.stagedFilesRoot).absoluteFilePath(path);
        if (files.regularFileSize(staged) != signedFile->size) {
            message = QStringLiteral("A staged repair file does not match its signed size.");
            return false;
        }
        QString hashMessage;
        if (!digestsEqual(files.hashSha256(staged, hashMessage), signedFile->sha256)) {
            message = hashMessage.isEmpty()
                          ? QStringLiteral("A staged repair file does not match its signed hash.")
                          : hashMessage;
            return false;
        }
    }
    return true;
}
