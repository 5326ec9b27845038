// The path rules against their plain second implementation: any disagreement is a finding.
#include <cstring>

#include "fuzz_support.h"
#include "path_rules.h"
#include "reference_path_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks how the rest becomes text: UTF-8 lets the dictionary's names through;
    // UTF-16 reaches every code unit, NUL and lone surrogates among them.
    QString path;
    if (data[0] & 1) {
        path.resize(static_cast<qsizetype>((size - 1) / 2));
        std::memcpy(path.data(), data + 1, static_cast<std::size_t>(path.size()) * 2);
    } else {
        path = QString::fromUtf8(fuzz::bytesOf(data + 1, size - 1));
    }
    if (isSafeRelativePath(path) != reference::isSafeRelativePath(path)) {
        fuzz::fail("the path rules disagree on a path");
    }
    if (isReservedPathSegment(path) != reference::isReservedPathSegment(path)) {
        fuzz::fail("the path rules disagree on a segment");
    }
    return 0;
}
