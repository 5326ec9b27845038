// Shared by both implementations of the OS layer; not part of its interface.
#pragma once

#include "platform.h"

namespace platform {

// False with *error = 123 for a path that the system would read as another one: empty, or cut
// short at an embedded NUL.
inline bool usablePath(const NativeString& path, std::uint32_t* error) {
    if (path.empty() || path.find(NativeString::value_type(0)) != NativeString::npos) {
        *error = kErrorInvalidName;
        return false;
    }
    return true;
}

}  // namespace platform
