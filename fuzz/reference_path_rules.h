// The path rules written a second time, from their description alone and as plainly as can be:
// one scan over the characters, no path cleaning. The path rules target checks that both give
// the same answer for every input.
#pragma once

#include <QString>

namespace reference {

bool isReservedPathSegment(const QString& segment);
bool isSafeRelativePath(const QString& path);

}  // namespace reference
