// The signed release manifest's payload.
#include "fuzz_support.h"
#include "release_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReleaseManifest release;
    if (!parseReleaseManifest(fuzz::bytesOf(data, size), release)) {
        if (!release.version.isEmpty() || !release.files.isEmpty()) {
            fuzz::fail("a refused release was kept");
        }
        return 0;
    }
    fuzz::checkInventory(release.files, 2147483648LL);
    QStringList paths;
    for (const ManifestFile& file : release.files) {
        paths.append(file.path);
    }
    if (release.version.isEmpty() || !paths.contains(QLatin1String("ClientLauncher.exe")) ||
        !paths.contains(QLatin1String("LauncherUpdater.exe"))) {
        fuzz::fail("an accepted release lacks its version or an executable");
    }
    return 0;
}
