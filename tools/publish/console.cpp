#include "console.h"

#include <cstdio>

#include "platform.h"

namespace {

void print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = (text + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

}  // namespace

void printOut(const QString& text) {
    print(stdout, text);
}

void printError(const QString& text) {
    print(stderr, text);
}

Progress::Progress(const QString& what, qsizetype files)
    : what_(what), files_(files), drawn_(platform::standardErrorIsTerminal()) {
    sinceDrawn_.start();
}

Progress::~Progress() {
    if (drawn_ && done_ > 0) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

void Progress::advance(qint64 bytes) {
    ++done_;
    bytes_ += bytes;
    if (!drawn_ || (sinceDrawn_.elapsed() < 100 && done_ < files_)) {
        return;
    }
    sinceDrawn_.restart();
    const QByteArray line = QStringLiteral("\r\033[K%1: %2 of %3 files, %4 MiB")
                                .arg(what_)
                                .arg(done_)
                                .arg(files_)
                                .arg(bytes_ / (1024 * 1024))
                                .toUtf8();
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
}
