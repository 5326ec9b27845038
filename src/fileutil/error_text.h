#pragma once

#include <QString>
#include <cstdint>

// "<verb> <path> (Windows error <n>)", the path with native separators and the error number in
// unsigned decimal. The error number comes from the OS layer, which reports it the moment the
// call fails, so nothing in between can overwrite it.
QString windowsErrorText(const char* verb, const QString& path, std::uint32_t error);

// "SHA-256 <step> failed for <path> (status 0x<8 lowercase hex digits>)".
QString hashStepFailureText(const char* step, const QString& path, std::int32_t status);
