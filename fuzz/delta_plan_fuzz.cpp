// The delta plan, read through the file operations from a staged root held in memory, for the
// versions the tests' scenario updates between.
#include <QSet>

#include "delta_plan.h"
#include "fuzz_support.h"
#include "memory_file_operations.h"
#include "path_rules.h"

namespace {

QSet<QString> folded(const QStringList& paths) {
    QSet<QString> set;
    for (const QString& path : paths) {
        set.insert(path.toCaseFolded());
    }
    return set;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString planPath = QStringLiteral("/staged/launcher-update-plan.json");
    MemoryFileOperations files(QStringLiteral("/staged"));
    files.files.insert(planPath, fuzz::bytesOf(data, size));
    DeltaPlan plan;
    QString message;
    if (!loadDeltaPlan(planPath, QStringLiteral("1.0"), QStringLiteral("2.0"), files, plan,
                       message)) {
        if (message.isEmpty() || !plan.files.isEmpty()) {
            fuzz::fail("a refused delta plan was kept or gave no reason");
        }
        return 0;
    }
    fuzz::checkInventory(plan.files, 2147483648LL);
    QStringList inventory;
    for (const ManifestFile& file : plan.files) {
        inventory.append(file.path);
    }
    const QSet<QString> replaced = folded(plan.replace);
    const QSet<QString> removed = folded(plan.remove);
    bool removalsSafe = true;
    for (const QString& path : plan.remove) {
        removalsSafe = removalsSafe && isSafeRelativePath(path);
    }
    if (replaced.size() != plan.replace.size() || removed.size() != plan.remove.size() ||
        !removalsSafe || removed.intersects(folded(inventory)) ||
        !replaced.contains(QStringLiteral("clientlauncher.exe")) ||
        !replaced.contains(QStringLiteral("launcherupdater.exe"))) {
        fuzz::fail("an accepted delta plan breaks its lists' rules");
    }
    for (const QString& path : plan.replace) {
        if (!inventory.contains(path)) {
            fuzz::fail("a replaced path is not spelled as in the inventory");
        }
    }
    return 0;
}
