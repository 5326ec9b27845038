#include <QCoreApplication>

#include "command_line.h"
#include "entry.h"

int main(int argc, char* argv[]) {
    const QStringList arguments = receivedArguments(argc, argv);
    QCoreApplication app(argc, argv);
    return runLauncherUpdater(arguments);
}
