#pragma once

#include <QString>

// What the command line asks of one update. deltaPlanPath and fromVersion are both empty for a
// full package. `elevated`: the run crosses from its user to administrator rights, so it installs
// only a release signed by a trusted key.
struct UpdateRequest {
    QString installRoot;
    QString stagedRoot;
    QString version;
    QString ackPath;
    QString deltaPlanPath;
    QString fromVersion;
    bool elevated = false;
};
