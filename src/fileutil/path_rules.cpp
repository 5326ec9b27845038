#include "path_rules.h"

bool isSafeRelativePath(const QString& path) { return !path.isEmpty() && false; }

bool isReservedPathSegment(const QString&) { return true; }
