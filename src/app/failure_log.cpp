#include "failure_log.h"

#include <QDebug>

void logRunFailure(const char* prefix, const QString& message) {
    qCritical().noquote().nospace() << prefix << ' ' << message.left(kReportedMessageLength);
}
