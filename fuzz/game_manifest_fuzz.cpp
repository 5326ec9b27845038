// The signed game manifest's payload, against the plan the tests' scenario writes.
#include <limits>

#include "fuzz_support.h"
#include "repair_plan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RepairPlan plan;
    plan.manifestId = QStringLiteral("m-1");
    plan.gameId = QStringLiteral("game");
    plan.channel = QStringLiteral("stable");
    plan.generation = 7;
    QString message;
    if (!parseGameManifest(fuzz::bytesOf(data, size), plan, message)) {
        if (message.isEmpty()) {
            fuzz::fail("a refused manifest gave no reason");
        }
        return 0;
    }
    fuzz::checkInventory(plan.manifestFiles.values(), std::numeric_limits<qint64>::max());
    for (auto file = plan.manifestFiles.cbegin(); file != plan.manifestFiles.cend(); ++file) {
        if (file.key() != file->path.toCaseFolded()) {
            fuzz::fail("a manifest file is kept under another path");
        }
    }
    return 0;
}
