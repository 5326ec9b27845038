// Records what goes through Qt's message log while it lives, instead of printing it.
#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace testsupport {

struct LogLine {
    QtMsgType type;
    QString text;
    // True when the line carries a source file, line or function.
    bool hasSourceLocation;
};

// Installs a message handler for its lifetime and restores the previous one when it ends. One
// at a time; main thread only.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const QList<LogLine>& lines() const;
    // Each line as "critical: text" or "warning: text", in order (also "debug" and "info").
    QStringList describe() const;

private:
    QtMessageHandler previous_;
};

}  // namespace testsupport
