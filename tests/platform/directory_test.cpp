// Tests of the held directories of the OS layer: what is done below one stays below it, whatever
// is swapped for a link on the way, before or after it was opened.
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "directory.h"
#include "harness.h"
#include "test_support.h"

using platform::Directory;
using platform::EntryType;
using platform::NativeString;
using testsupport::native;
using testsupport::ScratchDir;

namespace {

std::vector<std::string> names(const Directory& directory) {
    std::vector<platform::DirectoryEntry> entries;
    std::uint32_t error = 0;
    std::vector<std::string> found;
    if (platform::listDirectory(directory, &entries, &error)) {
        for (const platform::DirectoryEntry& entry : entries) {
            found.emplace_back(entry.name.begin(), entry.name.end());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string readAt(const Directory& directory, const char* name) {
    platform::SequentialFile file;
    std::uint32_t error = 0;
    char buffer[64];
    std::size_t got = 0;
    if (!platform::openFileAt(file, directory, native(name), &error) ||
        !file.read(buffer, sizeof buffer, &got, &error)) {
        return "<error " + std::to_string(error) + ">";
    }
    return std::string(buffer, got);
}

}  // namespace

TEST_CASE(held_directory_does_every_operation_below_it) {
    ScratchDir scratch;
    Directory root;
    Directory sub;
    std::uint32_t error = 0;
    REQUIRE(root.open(scratch.path(), &error));
    REQUIRE(platform::createDirectoryAt(root, native("sub"), &error));
    CHECK(!platform::createDirectoryAt(root, native("sub"), &error));
    REQUIRE(sub.openBelow(root, native("sub"), &error));
    REQUIRE(platform::writeNewFileAt(sub, native("a"), "abc", 3, &error));
    CHECK(!platform::writeNewFileAt(sub, native("a"), "x", 1, &error));
    CHECK_EQ(error, platform::kErrorFileExists);
    std::int64_t size = 0;
    CHECK(platform::entryTypeAt(sub, native("a"), &size) == EntryType::File);
    CHECK_EQ(size, 3);
    CHECK(platform::entryTypeAt(root, native("sub"), &size) == EntryType::Directory);
    CHECK_EQ(size, -1);
    CHECK(platform::entryTypeAt(root, native("none")) == EntryType::Missing);
    // A shortcut is a file like any other, whatever the shell makes of it.
    REQUIRE(platform::writeNewFileAt(sub, native("game.lnk"), "L", 1, &error));
    CHECK(platform::entryTypeAt(sub, native("game.lnk")) == EntryType::File);
    CHECK(platform::deleteFileAt(sub, native("game.lnk"), &error));
    CHECK(platform::copyToNewFileAt(sub, native("a"), root, native("b"), &error));
    CHECK(!platform::copyToNewFileAt(root, native("sub"), root, native("c"), &error));
    CHECK_EQ(error, platform::kErrorAccessDenied);
    CHECK(!platform::renameNoReplaceAt(root, native("b"), sub, native("a"), &error));
    CHECK_EQ(error, platform::kErrorFileExists);
    CHECK(platform::renameNoReplaceAt(root, native("b"), sub, native("b"), &error));
    CHECK(!platform::replaceFileAt(sub, native("b"), root, native("sub"), &error));
    CHECK(platform::replaceFileAt(sub, native("b"), sub, native("a"), &error));
    CHECK_EQ(readAt(sub, "a"), std::string("abc"));
    CHECK(names(sub) == std::vector<std::string>{"a"});
    CHECK(!platform::removeDirectoryAt(root, native("sub"), &error));
    CHECK_EQ(error, platform::kErrorDirectoryNotEmpty);
    CHECK(platform::deleteFileAt(sub, native("a"), &error));
    CHECK(platform::flushDirectory(sub, &error) && platform::syncFileSystem(root, &error));
    CHECK(platform::removeDirectoryAt(root, native("sub"), &error));
    for (const char* bad : {"", ".", "..", "a/b"}) {
        harness::row = bad;
        CHECK(!platform::createDirectoryAt(root, native(bad), &error));
        CHECK_EQ(error, platform::kErrorInvalidName);
    }
}

// What counts as a link on Windows, by attributes and reparse tag.
TEST_CASE(only_name_surrogates_are_links) {
    constexpr std::uint32_t kReparse = 0x400;
    constexpr std::uint32_t kDirectory = 0x10;
    const struct {
        const char* name;
        std::uint32_t attributes;
        std::uint32_t tag;
        bool link;
    } rows[] = {
        {"symbolic link", kReparse, 0xA000000C, true},
        {"junction or mount point", kReparse | kDirectory, 0xA0000003, true},
        {"WSL symbolic link", kReparse, 0xA000001D, true},
        {"cloud placeholder", kReparse | kDirectory, 0x9000601A, false},
        {"deduplicated file", kReparse, 0x80000013, false},
        {"WOF-compressed file", kReparse, 0x80000017, false},
        {"app execution alias", kReparse, 0x8000001B, false},
        {"surrogate tag without the attribute", kDirectory, 0xA0000003, false},
        {"plain file", 0x20, 0, false},
    };
    for (const auto& row : rows) {
        harness::row = row.name;
        CHECK_EQ(platform::isLinkReparsePoint(row.attributes, row.tag), row.link);
    }
}

TEST_CASE(tree_goes_whole_by_handles) {
    ScratchDir scratch;
    REQUIRE(testsupport::makeDirectory(scratch / "tree") &&
            testsupport::makeDirectory(scratch / "tree/a") &&
            testsupport::makeDirectory(scratch / "tree/a/b") &&
            testsupport::writeFile(scratch / "tree/a/b/f", "f") &&
            testsupport::writeFile(scratch / "tree/g", "g"));
#ifdef _WIN32
    // A read-only file, as an original moved into a backup may be.
    REQUIRE(testsupport::makeReadOnly(scratch / "tree/g"));
#endif
    Directory root;
    std::uint32_t error = 0;
    REQUIRE(root.open(scratch.path(), &error));
    CHECK(platform::removeTreeAt(root, native("tree"), &error));
    CHECK(names(root).empty());
    CHECK(!root.open(scratch / "none", &error));
    CHECK_EQ(error, platform::kErrorFileNotFound);
}

#ifndef _WIN32
// Links below a held directory, planted before or swapped in after it was opened: never
// followed, removed as entries.
TEST_CASE(links_below_a_held_directory_are_never_followed) {
    ScratchDir scratch;
    REQUIRE(testsupport::makeDirectory(scratch / "outside") &&
            testsupport::makeDirectory(scratch / "outside/sub") &&
            testsupport::writeFile(scratch / "outside/secret", "secret") &&
            testsupport::makeDirectory(scratch / "inst") &&
            testsupport::makeDirectory(scratch / "inst/data"));
    for (const char* link : {"inst/link", "inst/data/file-link"}) {
        const std::string target =
            link[5] == 'l' ? scratch / "outside" : scratch / "outside/secret";
        REQUIRE(::symlink(target.c_str(), (scratch / link).c_str()) == 0);
    }
    REQUIRE(::symlink((scratch / "none").c_str(), (scratch / "inst/data/dangling").c_str()) == 0);
    Directory inst;
    Directory below;
    std::uint32_t error = 0;
    REQUIRE(inst.open(scratch / "inst", &error));
    CHECK(!below.open(scratch / "inst/link", &error));
    CHECK_EQ(error, platform::kErrorLinkOnTheWay);
    for (const char* relative : {"link", "link/sub", "data/file-link"}) {
        harness::row = relative;
        CHECK(!below.openBelow(inst, native(relative), &error));
        CHECK_EQ(error, platform::kErrorLinkOnTheWay);
    }
    REQUIRE(below.openBelow(inst, native("data"), &error));
    CHECK(platform::entryTypeAt(below, native("file-link")) == EntryType::Link);
    CHECK_EQ(readAt(below, "file-link"), "<error 1921>");
    CHECK(!platform::copyToNewFileAt(below, native("file-link"), below, native("copy"), &error));
    CHECK(!platform::writeNewFileAt(below, native("dangling"), "x", 1, &error));
    CHECK_EQ(error, platform::kErrorFileExists);
    CHECK(!platform::removeDirectoryAt(inst, native("link"), &error));

    // The held directory is swapped for a link to the outside: what is done through it stays
    // in the real directory, and a new walk through its old name stops at the link.
    REQUIRE(::rename((scratch / "inst/data").c_str(), (scratch / "inst/moved").c_str()) == 0);
    REQUIRE(::symlink((scratch / "outside").c_str(), (scratch / "inst/data").c_str()) == 0);
    CHECK(platform::writeNewFileAt(below, native("new"), "n", 1, &error));
    CHECK_EQ(testsupport::readFile(scratch / "inst/moved/new"), std::string("n"));
    Directory again;
    CHECK(!again.openBelow(inst, native("data/sub"), &error));
    CHECK_EQ(error, platform::kErrorLinkOnTheWay);

    CHECK(platform::removeTreeAt(inst, native("data"), &error));
    CHECK(platform::removeTreeAt(inst, native("moved"), &error));
    CHECK(platform::removeTreeAt(inst, native("link"), &error));
    CHECK(names(inst).empty());
    CHECK_EQ(testsupport::readFile(scratch / "outside/secret"), std::string("secret"));
    Directory outside;
    CHECK(outside.open(scratch / "outside", &error) &&
          names(outside) == std::vector<std::string>({"secret", "sub"}));
}
#endif
