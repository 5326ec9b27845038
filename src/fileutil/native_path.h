#pragma once

#include <QString>

#include "platform.h"

// The form of `path` that Windows' CreateFileW accepts at any length: cleaned (doubled
// separators, "." and resolvable ".." segments removed), with backslashes, and from 260 UTF-16
// code units on prefixed with \\?\ (\\?\UNC\ for a \\server\share path). A path that already
// starts with \\?\ is left as cleaned. Pure string work, the same on every platform.
QString toWindowsLongPath(const QString& path);

// The string handed to the OS layer to open `path`: the long-path form on Windows, the cleaned
// path in the file system's encoding elsewhere. Empty for a path holding U+0000, which the OS
// layer refuses (error 123), so that no call opens the shorter name before the NUL.
platform::NativeString nativeFilePath(const QString& path);

// `text` as an argument of a process this program starts, unchanged: UTF-16 on Windows, the
// file system's encoding (the inverse of how this program's own arguments were read) elsewhere.
platform::NativeString nativeArgument(const QString& text);

// One name of a directory entry, as the OS layer takes it: unchanged, like nativeArgument.
inline platform::NativeString nativeName(const QString& name) {
    return nativeArgument(name);
}
