#pragma once

#include <QString>

// How much of a failure message reaches the log line and the result file.
constexpr int kReportedMessageLength = 1000;

// One critical line through Qt's message log: `prefix`, one space, and the first 1000 UTF-16
// code units of `message`, unquoted.
void logRunFailure(const char* prefix, const QString& message);
