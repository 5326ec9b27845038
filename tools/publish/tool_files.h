#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class SignatureVerifier;

// Reads the whole regular file at `path` when it holds 1 to `cap` bytes (never through a link at
// the name). False with a message naming the file otherwise.
bool readInputFile(const QString& path, qint64 cap, QByteArray& bytes, QString& message);

// Reads the trusted key document at `path` into a verifier that trusts its keys alone, refusing
// it as the updater would; `read`, if given, receives the document's bytes.
bool loadTrustedKeys(const QString& path, std::unique_ptr<SignatureVerifier>& verifier,
                     QString& message, QByteArray* read = nullptr);

// Writes a document a command produces in one step: a reader (or a crash) sees the old file or
// the new one, never part of it. False with a message naming the file.
bool writeOutputFile(const QString& path, const QByteArray& data, QString& message);

// A directory that appears at its path whole or not at all. It is filled under a temporary name
// beside that path and renamed into place by commit(); if the owner ends before, the temporary
// directory goes with everything in it.
class NewDirectory {
public:
    NewDirectory() = default;
    ~NewDirectory();
    NewDirectory(const NewDirectory&) = delete;
    NewDirectory& operator=(const NewDirectory&) = delete;

    // False with a message when something already stands at `path`, its parent is not a
    // directory, or the temporary directory cannot be made.
    bool create(const QString& path, QString& message);
    // Where to fill it.
    QString temporaryPath() const { return temporary_; }
    // Copies the regular file `from` to the relative path `to` inside, with its permissions.
    bool copyIn(const QString& from, const QString& to, QString& message);
    bool makeDirectory(const QString& relativePath, QString& message);
    bool commit(QString& message);

private:
    QString path_;
    QString temporary_;
};
