#include "tool_files.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include "atomic_file.h"
#include "capped_read.h"
#include "file_operations.h"
#include "signature_verifier.h"

namespace {

// Far above any real document; the updater reads its own compiled in, without a cap.
constexpr qint64 kMaxKeyDocumentBytes = 4194304;

}  // namespace

bool readInputFile(const QString& path, qint64 cap, QByteArray& bytes, QString& message) {
    if (!readFileCapped(QFileInfo(path).absoluteFilePath(), cap, bytes)) {
        message =
            QStringLiteral("%1 could not be read: it must be a regular file of 1 to %2 bytes.")
                .arg(QDir::toNativeSeparators(path))
                .arg(cap);
        return false;
    }
    return true;
}

bool loadTrustedKeys(const QString& path, std::unique_ptr<SignatureVerifier>& verifier,
                     QString& message, QByteArray* read) {
    QByteArray document;
    QString refusal;
    if (!readInputFile(path, kMaxKeyDocumentBytes, document, message)) {
        return false;
    }
    if (!SignatureVerifier::fromTrustedKeyDocument(document, verifier, refusal)) {
        message = QStringLiteral("%1 is refused: %2").arg(QDir::toNativeSeparators(path), refusal);
        return false;
    }
    if (read != nullptr) {
        *read = document;
    }
    return true;
}

bool writeOutputFile(const QString& path, const QByteArray& data, QString& message) {
    if (!saveFileAtomically(QFileInfo(path).absoluteFilePath(), data)) {
        message = QStringLiteral("Could not write %1.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

NewDirectory::~NewDirectory() {
    if (!temporary_.isEmpty()) {
        systemFileOperations().removeTree(temporary_);
    }
}

bool NewDirectory::create(const QString& path, QString& message) {
    FileOperations& files = systemFileOperations();
    const QFileInfo target(path);
    const QString absolute = target.absoluteFilePath();
    if (files.exists(absolute)) {
        message = QStringLiteral("%1 already exists; give a new directory.")
                      .arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!QFileInfo(target.absolutePath()).isDir()) {
        message = QStringLiteral("The directory that is to hold %1 does not exist.")
                      .arg(QDir::toNativeSeparators(path));
        return false;
    }
    // Beside the target, so that the final rename stays on one file system.
    const QString temporary = QStringLiteral("%1/.%2.partial-%3")
                                  .arg(target.absolutePath(), target.fileName(),
                                       QUuid::createUuid().toString(QUuid::Id128).left(12));
    if (!QDir().mkdir(temporary)) {
        message = QStringLiteral("Could not create %1.").arg(QDir::toNativeSeparators(temporary));
        return false;
    }
    path_ = absolute;
    temporary_ = temporary;
    return true;
}

bool NewDirectory::makeDirectory(const QString& relativePath, QString& message) {
    if (!systemFileOperations().makeDirectories(QDir(temporary_).filePath(relativePath))) {
        message = QStringLiteral("Could not create %1.")
                      .arg(QDir::toNativeSeparators(QDir(path_).filePath(relativePath)));
        return false;
    }
    return true;
}

bool NewDirectory::copyIn(const QString& from, const QString& to, QString& message) {
    const QString target = QDir(temporary_).filePath(to);
    if (!makeDirectory(QFileInfo(to).path(), message)) {
        return false;
    }
    if (!systemFileOperations().copy(from, target)) {
        message = QStringLiteral("Could not copy %1.").arg(QDir::toNativeSeparators(from));
        return false;
    }
    return true;
}

bool NewDirectory::commit(QString& message) {
    FileOperations& files = systemFileOperations();
    // The copies are durable before the directory appears under its name.
    if (!files.syncFileSystem(temporary_) || !files.rename(temporary_, path_)) {
        message = QStringLiteral("Could not create %1.").arg(QDir::toNativeSeparators(path_));
        return false;
    }
    temporary_.clear();
    return true;
}
