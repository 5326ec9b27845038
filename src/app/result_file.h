#pragma once

#include <QString>

class FileOperations;

// result.json in the directory of the plan file (the plan path made absolute against the
// current directory).
QString repairResultPath(const QString& planPath);

// Writes result.json for a game repair: {"errorCode":<code>,"message":<first 1000 UTF-16 code
// units>,"ok":<code == 0>,"schemaVersion":1}, compact, replacing any earlier file in one step.
// False when it could not be written; an earlier file is then left as it was.
// Written through `files`, as the run's other files are.
bool writeRepairResult(FileOperations& files, const QString& planPath, int code,
                       const QString& message);
