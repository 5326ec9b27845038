#pragma once

#include <QByteArray>
#include <QString>

// One file of a signed inventory (a game manifest, a delta plan): the path as the document writes
// it, its size in bytes (at least 0) and its SHA-256 digest as 32 raw bytes.
struct ManifestFile {
    QString path;
    qint64 size = -1;
    QByteArray sha256;
};
