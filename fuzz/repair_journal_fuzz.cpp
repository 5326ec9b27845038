// Recovery from a repair journal, over an installation held in memory that a repair of the
// tests' scenario was interrupted in: two files replaced, one copy left beside its target, and
// links that lead outside. The file set aborts the run on any change outside the installation or
// through a link.
#include "fuzz_support.h"
#include "memory_file_operations.h"
#include "repair_journal.h"
#include "repair_recovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RepairPlan plan;
    plan.installationRoot = QStringLiteral("/inst");
    plan.generation = 7;
    MemoryFileOperations files(plan.installationRoot);
    for (const char* directory : {"/inst/bin", "/inst/.tavorin-backup", "/inst/.tavorin-backup/7",
                                  "/inst/.tavorin-backup/7/bin", "/inst/new"}) {
        files.directories.insert(QString::fromLatin1(directory));
    }
    files.files = {{QStringLiteral("/inst/a.dat"), "new a"},
                   {QStringLiteral("/inst/bin/b.dat"), "new b"},
                   {QStringLiteral("/inst/new/c.dat.tavorin-new"), "half c"},
                   {QStringLiteral("/inst/.tavorin-backup/7/a.dat"), "old a"},
                   {QStringLiteral("/inst/.tavorin-backup/7/bin/b.dat"), "old b"}};
    files.links = {QStringLiteral("/inst/linked"), QStringLiteral("/inst/.tavorin-backup/7/out")};
    const QString journal = repairJournalPath(plan.installationRoot);
    files.files.insert(journal, fuzz::bytesOf(data, size));

    QString message;
    if (recoverInterruptedRepair(plan, files, message) == files.exists(journal)) {
        fuzz::fail("recovery's answer and the journal left behind disagree");
    }
    return 0;
}
