// Tests of the OS layer. The same cases run natively, as a mingw-w64 build under Wine, and on
// Windows; a case that Wine cannot judge is skipped there, with the reason.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "platform.h"
#include "test_support.h"

using platform::NativeString;
using platform::ProcessWait;
using testsupport::ScratchDir;

namespace {

const char* const kDigestOfEmpty =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const char* const kDigestOfAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// The SHA-256 of a file in lowercase hex, computed the way the file utilities do: through
// SequentialFile in reads of 1 MiB. Names the error instead when something fails.
std::string sha256OfFile(const NativeString& path) {
    platform::SequentialFile file;
    platform::Sha256Provider provider;
    platform::Sha256Hash hash;
    std::uint32_t error = 0;
    if (!file.open(path, &error)) {
        return "open error " + std::to_string(error);
    }
    bool ok = provider.open() >= 0 && hash.create(provider) >= 0;
    std::vector<unsigned char> buffer(1048576);
    for (std::size_t got = 1; ok && got > 0;) {
        ok = file.read(buffer.data(), buffer.size(), &got, &error) &&
             hash.update(buffer.data(), got) >= 0;
    }
    unsigned char digest[platform::kSha256Size];
    if (!ok || hash.finish(digest) < 0) {
        return "read or hash failed";
    }
    std::string text;
    for (unsigned char byte : digest) {
        text += "0123456789abcdef"[byte >> 4];
        text += "0123456789abcdef"[byte & 15];
    }
    return text;
}

// What each operation reports for `path`: 0 when it succeeds, else the Windows error.
std::uint32_t openError(const NativeString& path) {
    platform::SequentialFile file;
    std::uint32_t error = 0;
    return file.open(path, &error) ? 0 : error;
}

std::uint32_t createError(const NativeString& path) {
    std::uint32_t error = 0;
    return platform::createNewFile(path, &error) ? 0 : error;
}

std::uint32_t deleteError(const NativeString& path) {
    std::uint32_t error = 0;
    return platform::deleteFile(path, &error) ? 0 : error;
}

}  // namespace

TEST_CASE(sha256_of_files) {
    // Bytes i % 251 unless text is given. A full block is followed by an empty read; one byte
    // more needs a second block.
    struct {
        std::size_t size;
        const char* text;
        const char* digest;
    } const rows[] = {
        {0, nullptr, kDigestOfEmpty},
        {1, nullptr, "6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d"},
        {1048576, nullptr, "631b84027d6b9e52b539c4e8373622d23032dfadc64d60af87339c9037e4f769"},
        {1048577, nullptr, "5769f52bc3eef28afa39c6fc68cadb7d0bd69812ae3a3d71452f519ec3c7aa56"},
        {3, "abc", kDigestOfAbc},
    };
    ScratchDir scratch;
    for (const auto& row : rows) {
        harness::row = row.text ? row.text : std::to_string(row.size) + " bytes";
        std::string bytes(row.size, '\0');
        for (std::size_t i = 0; i < row.size; ++i) {
            bytes[i] = static_cast<char>(i % 251);
        }
        REQUIRE(testsupport::writeFile(scratch / "data.bin", row.text ? row.text : bytes));
        CHECK_EQ(sha256OfFile(scratch / "data.bin"), row.digest);
    }
}

TEST_CASE(missing_paths_and_directories_give_windows_errors) {
    struct {
        const char* operation;
        std::uint32_t (*attempt)(const NativeString& path);
        const char* path;
        std::uint32_t error;
    } const rows[] = {
        {"open", openError, "missing.bin", platform::kErrorFileNotFound},
        {"open", openError, "no-such-dir/file.bin", platform::kErrorPathNotFound},
        {"open", openError, "dir", platform::kErrorAccessDenied},
        {"create", createError, "no-such-dir/file.bin", platform::kErrorPathNotFound},
        {"create", createError, "dir", platform::kErrorFileExists},
        {"delete", deleteError, "no-such-dir/file.bin", platform::kErrorPathNotFound},
        {"delete", deleteError, "dir", platform::kErrorAccessDenied},
    };
    ScratchDir scratch;
    REQUIRE(testsupport::makeDirectory(scratch / "dir"));
    for (const auto& row : rows) {
        harness::row = std::string(row.operation) + " " + row.path;
        CHECK_EQ(row.attempt(scratch / row.path), row.error);
    }
}

TEST_CASE(create_new_file_once_then_delete_it) {
    ScratchDir scratch;
    const NativeString path = scratch / "probe.tmp";
    CHECK_EQ(createError(path), 0u);
    CHECK_EQ(sha256OfFile(path), kDigestOfEmpty);
    CHECK_EQ(createError(path), platform::kErrorFileExists);
    CHECK_EQ(deleteError(path), 0u);
    CHECK_EQ(deleteError(path), platform::kErrorFileNotFound);
}

TEST_CASE(replace_file_moves_over_a_file_but_not_a_directory) {
    ScratchDir scratch;
    REQUIRE(testsupport::writeFile(scratch / "old", "old"));
    REQUIRE(testsupport::writeFile(scratch / "new", "abc"));
    REQUIRE(testsupport::makeDirectory(scratch / "dir"));
    std::uint32_t error = 0;
    CHECK(platform::replaceFile(scratch / "new", scratch / "old", &error));
    CHECK_EQ(sha256OfFile(scratch / "old"), kDigestOfAbc);
    CHECK_EQ(openError(scratch / "new"), platform::kErrorFileNotFound);
    CHECK(!platform::replaceFile(scratch / "old", scratch / "dir", &error));
    CHECK_EQ(error, platform::kErrorAccessDenied);
}

#ifdef _WIN32
TEST_CASE(long_path_through_its_long_form) {
    ScratchDir scratch;
    // One name of 250 characters takes the path past 260 whatever the temporary directory.
    const NativeString directory = L"\\\\?\\" + scratch.path() + L"\\" + NativeString(250, L'd');
    REQUIRE(testsupport::makeDirectory(directory));
    const NativeString path = directory + L"\\file.bin";
    CHECK_EQ(createError(path), 0u);
    CHECK_EQ(sha256OfFile(path), kDigestOfEmpty);
    CHECK_EQ(deleteError(path), 0u);
}

TEST_CASE(open_file_keeps_writers_out_but_not_deleters) {
    ScratchDir scratch;
    const NativeString path = scratch / "shared.bin";
    REQUIRE(testsupport::writeFile(path, "abc"));
    platform::SequentialFile file;
    std::uint32_t error = 0;
    REQUIRE(file.open(path, &error));
    CHECK_EQ(testsupport::openForWritingError(path), platform::kErrorSharingViolation);
    CHECK_EQ(deleteError(path), 0u);
}
#else
TEST_CASE(dangling_link_is_not_written_through) {
    ScratchDir scratch;
    const std::string target = scratch / "target";
    const std::string link = scratch / "link";
    REQUIRE(::symlink(target.c_str(), link.c_str()) == 0);
    REQUIRE(testsupport::writeFile(scratch / "new", "abc"));
    CHECK_EQ(createError(link), platform::kErrorFileExists);
    std::uint32_t error = 0;
    CHECK(platform::replaceFile(scratch / "new", link, &error));
    CHECK_EQ(sha256OfFile(link), kDigestOfAbc);
    CHECK_EQ(openError(target), platform::kErrorFileNotFound);
}

TEST_CASE(fifo_opens_without_hanging) {
    ScratchDir scratch;
    REQUIRE(::mkfifo((scratch / "fifo").c_str(), 0600) == 0);
    CHECK_EQ(openError(scratch / "fifo"), 0u);
}
#endif

TEST_CASE(wait_for_process_that_ends_or_runs) {
    testsupport::Child child;
    REQUIRE(child.start());
    std::uint32_t error = 0;
    // The child has ended or ends while waited for; it stays a process until released.
    CHECK(platform::waitForProcessExit(child.pid(), 60000, &error) == ProcessWait::Ended);
    // This process runs on.
    CHECK(platform::waitForProcessExit(platform::currentProcessId(), 0, &error) ==
          ProcessWait::TimedOut);
    CHECK_EQ(error, 0u);
}

TEST_CASE(wait_for_ended_process_fails_to_open) {
#ifdef _WIN32
    if (testsupport::runningUnderWine()) {
        SKIP(
            "skipped under Wine: an ended process stays openable for about half a second "
            "after its last handle is closed, and nothing can be awaited for it to go");
    }
#endif
    testsupport::Child child;
    REQUIRE(child.start());
    REQUIRE(child.release());
    std::uint32_t error = 0;
    CHECK(platform::waitForProcessExit(child.pid(), 0, &error) == ProcessWait::OpenFailed);
    CHECK_EQ(error, platform::kErrorInvalidParameter);
}

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], testsupport::kChildSwitch) == 0) {
        return 0;
    }
    return harness::run(argc, argv);
}
