#pragma once

#include <QString>

#include "platform.h"

// Windows file systems compare names without regard to letter case; elsewhere case counts.
#ifdef _WIN32
constexpr Qt::CaseSensitivity kFileNameCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kFileNameCase = Qt::CaseSensitive;
#endif

// Whether `a` and `b` name the same place as text: each made absolute and cleaned, compared in
// kFileNameCase. Links are not resolved.
bool isSamePath(const QString& a, const QString& b);

// True for a Windows path that names its drive and root (C:\..., either separator) or a share
// or device (\\...): one the system does not resolve against a current directory.
bool isFullyQualifiedWindowsPath(const QString& path);

// The form of `path` that Windows' calls accept at any length: cleaned (doubled separators, "."
// and resolvable ".." segments removed), with backslashes, and from 248 UTF-16 code units on (the
// limit of CreateDirectoryW) prefixed with \\?\ (\\?\UNC\ for a \\server\share path). A path
// that already starts with \\?\, or is not fully qualified, is left as cleaned: the prefix would
// keep the system from resolving it. Pure string work, the same on every platform.
QString toWindowsLongPath(const QString& path);

// The string handed to the OS layer to open `path`: on Windows the long-path form of its
// absolute path (GetFullPathNameW for one that is not fully qualified), elsewhere the cleaned
// path in the file system's encoding. Empty for a path holding U+0000, which the OS
// layer refuses (error 123), so that no call opens the shorter name before the NUL.
platform::NativeString nativeFilePath(const QString& path);

// `text` as an argument of a process this program starts, unchanged: UTF-16 on Windows, the
// file system's encoding (the inverse of how this program's own arguments were read) elsewhere.
platform::NativeString nativeArgument(const QString& text);

// One name of a directory entry, as the OS layer takes it: unchanged, like nativeArgument.
inline platform::NativeString nativeName(const QString& name) {
    return nativeArgument(name);
}
