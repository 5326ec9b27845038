#pragma once

#include <QByteArray>
#include <QString>

extern const char kDevelopmentKeysVariable[];

// Writes `bytes` to `path`, replacing what was there. False when that fails.
bool writeFile(const QString& path, const QByteArray& bytes);

// A trusted key document of schema 1 holding one key, written as unpadded base64url.
QByteArray keyDocument(const QString& keyId, const QByteArray& publicKey);
