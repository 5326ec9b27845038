// The load configuration of the executable, for GNU ld, which has no /DEPENDENTLOADFLAG.
//
// Windows looks for the imports that are not KnownDLLs (VERSION, USERENV, WINMM, bcrypt, ...) in
// the executable's own directory first, and a DLL planted there would run with the rights of an
// elevated copy. With DependentLoadFlags set to LOAD_LIBRARY_SEARCH_SYSTEM32 the loader looks in
// System32 only (Windows 10 1607 on). scripts/pe_imports.py points the image's load configuration
// entry at this structure after the link, since ld 2.40 does not; MSVC's runtime brings its own.
// Laid out here rather than taken from <windows.h>, which only the OS layer includes; older
// MinGW headers call the field Reserved1.
#include <cstddef>
#include <cstdint>

namespace {

struct LoadConfiguration64 {
    std::uint32_t size;
    std::uint32_t timeDateStamp;
    std::uint16_t majorVersion;
    std::uint16_t minorVersion;
    std::uint32_t globalFlagsClear;
    std::uint32_t globalFlagsSet;
    std::uint32_t criticalSectionDefaultTimeout;
    std::uint64_t deCommitFreeBlockThreshold;
    std::uint64_t deCommitTotalFreeThreshold;
    std::uint64_t lockPrefixTable;
    std::uint64_t maximumAllocationSize;
    std::uint64_t virtualMemoryThreshold;
    std::uint64_t processAffinityMask;
    std::uint32_t processHeapFlags;
    std::uint16_t csdVersion;
    std::uint16_t dependentLoadFlags;
    std::uint64_t editList;
    std::uint64_t securityCookie;
    std::uint64_t seHandlerTable;
    std::uint64_t seHandlerCount;
};
static_assert(offsetof(LoadConfiguration64, dependentLoadFlags) == 0x4E, "layout");
static_assert(sizeof(LoadConfiguration64) == 0x70, "layout");

constexpr std::uint16_t kLoadLibrarySearchSystem32 = 0x800;

}  // namespace

// Constant-initialised: the loader reads it before any code of the program runs.
extern "C" __attribute__((used)) const LoadConfiguration64 _load_config_used = {
    sizeof(LoadConfiguration64), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    kLoadLibrarySearchSystem32,  0, 0, 0, 0};
