#pragma once

#include <QString>

// How much of a failure message reaches the log line and the result file.
constexpr int kReportedMessageLength = 1000;

// The first 1000 UTF-16 code units of `message`, or 999 when the thousandth would be the first
// half of a surrogate pair: a lone half is no text, and strict JSON readers refuse it.
QString reportedMessage(const QString& message);

// One critical line through Qt's message log: `prefix`, one space, and reportedMessage(message),
// unquoted. A backslash is written as \\, and control characters, line and paragraph separators
// and invisible format characters (the bidirectional controls among them) as \uXXXX, so the
// line stays one line, reads as what it holds, and no two messages log alike.
void logRunFailure(const char* prefix, const QString& message);
