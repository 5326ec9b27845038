#pragma once

#include <QString>

// How much of a failure message reaches the log line and the result file.
constexpr int kReportedMessageLength = 1000;

// One critical line through Qt's message log: `prefix`, one space, and the first 1000 UTF-16
// code units of `message`, unquoted. Control characters and line separators in the message are
// written as \uXXXX, so the line stays one line.
void logRunFailure(const char* prefix, const QString& message);
