// File-tree fixtures shared by the tests.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace testsupport {

// Writes `bytes` to `path`, replacing what was there. False when that fails.
bool writeFile(const QString& path, const QByteArray& bytes);
// The whole content of the file at `path`; "<unreadable>" when it cannot be read.
QByteArray readFile(const QString& path);
// The names in `directory`, hidden and system entries included, sorted.
QStringList entriesOf(const QString& directory);

// Merges `patch` (a JSON object text) into `object`; a null member removes the key.
void applyPatch(QJsonObject& object, const QByteArray& patch);

}  // namespace testsupport
