#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// One file of a signed inventory (a game manifest, a delta plan): the path as the document writes
// it, its size in bytes (at least 0) and its SHA-256 digest as 32 raw bytes.
struct ManifestFile {
    QString path;
    qint64 size = -1;
    QByteArray sha256;
};

// Reads one inventory element, {"path": ..., "size": ..., "sha256": ...}, into `file`. False when
// the path is unsafe, the size missing, fractional or negative, or the digest anything but
// exactly 64 lowercase hexadecimal digits.
bool readManifestFile(const QJsonObject& element, ManifestFile& file);
