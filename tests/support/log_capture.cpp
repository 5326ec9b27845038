#include "log_capture.h"

#include <QStringList>

namespace testsupport {
namespace {

QList<LogLine>* capturedLines = nullptr;

void captureLine(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    capturedLines->append(
        {type, text, context.file != nullptr || context.line != 0 || context.function != nullptr});
}

QString typeName(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return QStringLiteral("debug");
        case QtInfoMsg:
            return QStringLiteral("info");
        case QtWarningMsg:
            return QStringLiteral("warning");
        case QtCriticalMsg:
            return QStringLiteral("critical");
        case QtFatalMsg:
            return QStringLiteral("fatal");
    }
    return QStringLiteral("unknown");
}

}  // namespace

LogCapture::LogCapture() {
    Q_ASSERT(capturedLines == nullptr);
    capturedLines = new QList<LogLine>();
    previous_ = qInstallMessageHandler(captureLine);
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(previous_);
    delete capturedLines;
    capturedLines = nullptr;
}

const QList<LogLine>& LogCapture::lines() const {
    return *capturedLines;
}

QStringList LogCapture::describe() const {
    QStringList described;
    for (const LogLine& line : *capturedLines) {
        described.append(typeName(line.type) + QStringLiteral(": ") + line.text);
    }
    return described;
}

}  // namespace testsupport
