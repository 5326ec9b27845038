#include "failure_log.h"

#include <QDebug>

namespace {

// Messages can quote text from outside (a key id from an envelope, say), which must neither
// forge further log lines nor reorder what a reader sees.
QString escapeForLog(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (c == QLatin1Char('\\')) {
            escaped += QLatin1String("\\\\");
        } else if (category == QChar::Other_Control || category == QChar::Other_Format ||
                   category == QChar::Separator_Line || category == QChar::Separator_Paragraph) {
            escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace

QString reportedMessage(const QString& message) {
    int length = qMin<int>(message.size(), kReportedMessageLength);
    if (length < message.size() && message.at(length - 1).isHighSurrogate()) {
        --length;
    }
    return message.left(length);
}

void logRunFailure(const char* prefix, const QString& message) {
    qCritical().noquote().nospace() << prefix << ' ' << escapeForLog(reportedMessage(message));
}
