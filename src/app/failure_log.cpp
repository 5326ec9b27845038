#include "failure_log.h"

#include <QDebug>

namespace {

// Messages can quote text from outside (a key id from an envelope, say); a line break in it
// must not let that text forge further log lines.
QString escapeLineBreaks(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph) {
            escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace

void logRunFailure(const char* prefix, const QString& message) {
    qCritical().noquote().nospace()
        << prefix << ' ' << escapeLineBreaks(message.left(kReportedMessageLength));
}
