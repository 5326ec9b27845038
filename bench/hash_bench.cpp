// Hashes one file with hashFileSha256 and prints the wall time in seconds.
#include <QElapsedTimer>
#include <cstdio>

#include "file_hash.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hash_bench FILE\n");
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    QString message;
    const QByteArray digest = hashFileSha256(QString::fromLocal8Bit(argv[1]), message);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (digest.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    std::printf("%.6f %s\n", seconds, digest.toHex().constData());
    return 0;
}
