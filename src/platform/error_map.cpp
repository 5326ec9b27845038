#include <cerrno>

#include "directory.h"
#include "platform.h"

namespace platform {

std::uint32_t windowsErrorFromErrno(int errnoValue) {
    switch (errnoValue) {
        case ENOENT:
            return kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EMFILE:
        case ENFILE:
            return 4;  // ERROR_TOO_MANY_OPEN_FILES
        case EACCES:
        case EPERM:
        case EISDIR:
            return kErrorAccessDenied;
        case ENOMEM:
            return 8;  // ERROR_NOT_ENOUGH_MEMORY
        case EROFS:
            return 19;  // ERROR_WRITE_PROTECT
        case EBUSY:
#ifdef ETXTBSY
        case ETXTBSY:
#endif
            return kErrorSharingViolation;
        case EEXIST:
            return kErrorFileExists;
        case EINVAL:
            return kErrorInvalidParameter;
        case ENOEXEC:
            return 193;  // ERROR_BAD_EXE_FORMAT
        case ENOSPC:
            return 112;  // ERROR_DISK_FULL
        case ENAMETOOLONG:
            return 206;  // ERROR_FILENAME_EXCED_RANGE
        case EIO:
            return 1117;  // ERROR_IO_DEVICE
#ifdef ELOOP
        case ELOOP:
            return 1921;  // ERROR_CANT_RESOLVE_FILENAME
#endif
        default:
            return 31;  // ERROR_GEN_FAILURE
    }
}

bool isLinkReparsePoint(std::uint32_t attributes, std::uint32_t tag) {
    constexpr std::uint32_t kReparsePointAttribute = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
    constexpr std::uint32_t kNameSurrogateBit = 0x20000000;
    return (attributes & kReparsePointAttribute) != 0 && (tag & kNameSurrogateBit) != 0;
}

}  // namespace platform
