// A launcher installation and a staged update of it, shared by the update tests in and out of
// process: both executables and a nested file replaced, a directory replaced by a file, a file
// created under new directories and one in an empty directory that was there, a file kept; a
// delta also removes a file (emptying its directory), a whole directory (one of whose files it
// then installs anew) and a path that is not there (in another empty directory, which it
// prunes). A rollback must leave both empty directories as they were.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "repair_scenario.h"

namespace testsupport {

// The installation as a user sees it: every file and directory, not the update's own names.
inline FileTree installationTree(const QString& root) {
    return fileTree(root, true, true);
}

class UpdateScenario {
public:
    // Under `directory`: the installation `rootName`, "staged" and "outside", which nothing may
    // touch; the acknowledgement path is `ackName`.
    UpdateScenario(const QString& directory, bool delta, const QString& rootName = "inst",
                   const QString& ackName = "ack");

    // Lays it all out, the delta's "launcher-update-plan.json" too; `staged` may change first.
    bool write() const;
    QString path(const QString& relative) const;
    QString planPath() const;
    // The new launcher as its signed release lists it: the staged files of a full package, the
    // target inventory of a delta.
    QJsonArray releaseFiles() const;
    // The installation before and after the update, directories included unless not asked for.
    FileTree before(bool directories = true) const;
    FileTree after(bool directories = true) const;
    // The update work directories in the installation, and the journal of the only one.
    QStringList workDirectories() const;
    QJsonObject journal() const;
    // Empty when what an unfinished update left can be told and undone from its journal: with
    // none, the installation before (or after, once acknowledged); otherwise every path that
    // differs from before is listed (or lies on the way to, or below, one that is), and every
    // original file is in place or in the backup, byte for byte. Otherwise what is wrong.
    QString inconsistency() const;

    const QString directory;
    const bool delta;
    const QString root;
    const QString staging;
    const QString ack;
    const FileTree old = {{"ClientLauncher.exe", "old launcher"},
                          {"LauncherUpdater.exe", "old updater"},
                          {"keep.dat", "kept"},
                          {"bin/core.dll", "old core"},
                          {"data/d1", "d1"},
                          {"old/x.dll", "obsolete"},
                          {"plugins/p1.dll", "p1"},
                          {"plugins/sub/p2.dll", "p2"}};
    FileTree staged = {{"ClientLauncher.exe", "new launcher"},
                       {"LauncherUpdater.exe", "new updater"},
                       {"bin/core.dll", "new core, longer"},
                       {"data", "a file now"},
                       {"new/deep/n.dll", "new n"},
                       {"plugins/sub/p2.dll", "new p2"},
                       {"saves/slot1/slot.dat", "slot"}};
    const QStringList removed;
};

}  // namespace testsupport
