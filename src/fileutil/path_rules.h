#pragma once

#include <QString>

// True when `path` may be joined to a root: a forward-slash relative path already in canonical
// form, no segment empty, ".", "..", a reserved device name or ending in a space or a dot, no
// backslash, colon or NUL anywhere, at most 1024 UTF-16 code units. Never normalises or repairs.
bool isSafeRelativePath(const QString& path);

// True when a single path segment must be refused on Windows: its base before the first dot,
// without trailing spaces, is a reserved device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$,
// COM1-9, LPT1-9 and COM/LPT with a superscript 1-3, in any case), or it ends in a space or a dot.
bool isReservedPathSegment(const QString& segment);
