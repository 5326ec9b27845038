#include <QCoreApplication>

#include "command_line.h"
#include "entry.h"
#include "platform.h"

int main(int argc, char* argv[]) {
    platform::restrictLibrarySearch();
    const QStringList arguments = receivedArguments(argc, argv);
    QCoreApplication app(argc, argv);
    return runLauncherUpdater(arguments);
}
