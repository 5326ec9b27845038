#include <QCoreApplication>

#include "entry.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    return runLauncherUpdater(QCoreApplication::arguments());
}
