#include <QCoreApplication>

#include "command_line.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    return runPublishTool(application.arguments().mid(1));
}
