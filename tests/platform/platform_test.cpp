// Tests of the OS layer. The same cases run natively, as a mingw-w64 build under Wine, and on
// Windows; a case that Wine cannot judge is skipped there, with the reason.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

#include <algorithm>

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

std::string hex(const unsigned char* bytes, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += "0123456789abcdef"[bytes[i] >> 4];
        text += "0123456789abcdef"[bytes[i] & 15];
    }
    return text;
}

// A path holding a NUL: the system would read it as its first part, which exists.
std::string withNul(const char* existing) {
    return std::string(existing) + std::string(1, '\0') + "x";
}

// What each operation reports for `path`: 0 when it succeeds, else the Windows error.
std::uint32_t openError(const NativeString& path) {
    platform::SequentialFile file;
    std::uint32_t error = 0;
    return file.open(path, &error) ? 0 : error;
}

// A probe file that is gone afterwards, or the error.
std::uint32_t probeError(const NativeString& path) {
    std::uint32_t error = 0;
    if (!platform::probeNewFile(path, &error)) {
        return error;
    }
    return platform::entryExists(path) ? platform::kErrorFileExists : 0;
}

std::uint32_t deleteError(const NativeString& path) {
    std::uint32_t error = 0;
    return platform::deleteFile(path, &error) ? 0 : error;
}

std::uint32_t writeError(const NativeString& path) {
    std::uint32_t error = 0;
    return platform::writeNewFile(path, "new", 3, &error) ? 0 : error;
}

std::uint32_t flushDirectoryError(const NativeString& path) {
    std::uint32_t error = 0;
    return platform::flushDirectory(path, &error) ? 0 : error;
}

#ifdef _WIN32
#define WINDOWS_OR_POSIX(windows, posix) (windows)
#else
#define WINDOWS_OR_POSIX(windows, posix) (posix)
#endif

}  // namespace

TEST_CASE(sha256_of_pieces_is_the_digest_of_the_whole) {
    platform::Sha256Provider provider;
    REQUIRE(provider.open() >= 0);
    platform::Sha256Hash hash;
    unsigned char digest[platform::kSha256Size];
    // The same hash object serves again after each finish.
    for (const char* pieces : {"", "abc", "a|bc", "|ab||c|"}) {
        harness::row = pieces;
        REQUIRE(hash.create(provider) >= 0);
        std::string text = pieces;
        for (std::size_t at = 0, bar; at <= text.size(); at = bar + 1) {
            bar = std::min(text.find('|', at), text.size());
            CHECK(hash.update(text.data() + at, bar - at) >= 0);
        }
        REQUIRE(hash.finish(digest) >= 0);
        CHECK_EQ(hex(digest, sizeof digest), text.empty() ? kDigestOfEmpty : kDigestOfAbc);
    }
}

TEST_CASE(sequential_file_reads_every_byte_then_ends) {
    ScratchDir scratch;
    std::string bytes(1048577, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i % 251);
    }
    REQUIRE(testsupport::writeFile(scratch / "data.bin", bytes));
    platform::SequentialFile file;
    std::uint32_t error = 0;
    REQUIRE(file.open(scratch / "data.bin", &error));
    std::string read;
    std::vector<char> buffer(1048576);
    std::size_t got = 0;
    do {
        REQUIRE(file.read(buffer.data(), buffer.size(), &got, &error));
        read.append(buffer.data(), got);
    } while (got > 0);
    CHECK(read == bytes);
    CHECK(file.read(buffer.data(), buffer.size(), &got, &error) && got == 0);
}

TEST_CASE(paths_give_windows_errors) {
    struct {
        const char* operation;
        std::uint32_t (*attempt)(const NativeString& path);
        std::string path;
        std::uint32_t error;
    } const rows[] = {
        {"open", openError, "missing.bin", platform::kErrorFileNotFound},
        {"open", openError, "no-such-dir/file.bin", platform::kErrorPathNotFound},
        {"open", openError, "dir", platform::kErrorAccessDenied},
        {"open", openError, withNul("file"), platform::kErrorInvalidName},
        // Windows opens a reserved name as its device, spaces before the extension or not.
        {"open", openError, "nul .txt",
         WINDOWS_OR_POSIX(platform::kErrorAccessDenied, platform::kErrorFileNotFound)},
        {"probe", probeError, "probe.tmp", 0},
        {"probe", probeError, "file", platform::kErrorFileExists},
        {"probe", probeError, "no-such-dir/file.bin", platform::kErrorPathNotFound},
        {"probe", probeError, "dir", platform::kErrorFileExists},
        {"probe", probeError, withNul("dir/new"), platform::kErrorInvalidName},
        {"delete", deleteError, "probe.tmp", platform::kErrorFileNotFound},
        {"delete", deleteError, "no-such-dir/file.bin", platform::kErrorPathNotFound},
        {"delete", deleteError, "dir", platform::kErrorAccessDenied},
        {"delete", deleteError, withNul("file"), platform::kErrorInvalidName},
        {"write", writeError, "file", platform::kErrorFileExists},
        {"write", writeError, "no-such-dir/file.bin", platform::kErrorPathNotFound},
        {"write", writeError, withNul("dir/new"), platform::kErrorInvalidName},
        {"flush directory", flushDirectoryError, "no-such-dir", platform::kErrorFileNotFound},
    };
    ScratchDir scratch;
    REQUIRE(testsupport::makeDirectory(scratch / "dir"));
    REQUIRE(testsupport::writeFile(scratch / "file", "abc"));
    for (const auto& row : rows) {
        harness::row = row.operation + (" " + row.path);
        CHECK_EQ(row.attempt(scratch / row.path), row.error);
    }
    // Nothing was reached through the shorter names before the NUL.
    CHECK_EQ(testsupport::readFile(scratch / "file"), std::string("abc"));
    CHECK_EQ(openError(scratch / "dir/new"), platform::kErrorFileNotFound);
}

TEST_CASE(write_new_file_is_whole_and_flushed) {
    ScratchDir scratch;
    const std::string bytes = "line one\n\0binary\xff";
    std::uint32_t error = 0;
    REQUIRE(platform::writeNewFile(scratch / "new", bytes.data(), bytes.size(), &error));
    CHECK_EQ(testsupport::readFile(scratch / "new"), bytes);
    CHECK(platform::flushDirectory(scratch.path(), &error));
}

TEST_CASE(replace_file_moves_over_a_file_but_not_a_directory) {
    ScratchDir scratch;
    REQUIRE(testsupport::writeFile(scratch / "old", "old"));
    REQUIRE(testsupport::writeFile(scratch / "new", "abc"));
    REQUIRE(testsupport::makeDirectory(scratch / "dir"));
    std::uint32_t error = 0;
    CHECK(platform::replaceFile(scratch / "new", scratch / "old", &error));
    CHECK_EQ(testsupport::readFile(scratch / "old"), std::string("abc"));
    CHECK_EQ(openError(scratch / "new"), platform::kErrorFileNotFound);
    CHECK(!platform::replaceFile(scratch / "old", scratch / "dir", &error));
    CHECK_EQ(error, platform::kErrorAccessDenied);
}

// The transactions' new names: each fails where anything stands already, and leaves it be.
TEST_CASE(new_names_never_replace_what_stands_there) {
    ScratchDir scratch;
    REQUIRE(testsupport::writeFile(scratch / "file", "abc"));
    REQUIRE(testsupport::writeFile(scratch / "other", "xyz"));
    std::uint32_t error = 0;
    CHECK(platform::createDirectory(scratch / "dir", &error));
    CHECK(!platform::createDirectory(scratch / "dir", &error));
    CHECK(!platform::createDirectory(scratch / "no-such-dir/dir", &error));
    CHECK_EQ(error, platform::kErrorPathNotFound);
    CHECK(platform::entryExists(scratch / "dir") && !platform::entryExists(scratch / "none"));
    CHECK_EQ(platform::regularFileSize(scratch / "file"), 3);
    CHECK_EQ(platform::regularFileSize(scratch / "dir"), -1);
    CHECK_EQ(platform::regularFileSize(scratch / "none"), -1);
    for (const char* taken : {"other", "dir"}) {
        harness::row = taken;
        CHECK(!platform::renameNoReplace(scratch / "file", scratch / taken, &error));
        CHECK(!platform::copyToNewFile(scratch / "file", scratch / taken, &error));
    }
    CHECK_EQ(testsupport::readFile(scratch / "other"), std::string("xyz"));
    CHECK(!platform::copyToNewFile(scratch / "dir", scratch / "copy", &error));
    CHECK_EQ(error, platform::kErrorAccessDenied);
    CHECK(!platform::entryExists(scratch / "copy"));
    CHECK(platform::copyToNewFile(scratch / "file", scratch / "copy", &error));
    CHECK(platform::renameNoReplace(scratch / "copy", scratch / "dir/moved", &error));
    CHECK_EQ(testsupport::readFile(scratch / "dir/moved"), std::string("abc"));
    CHECK(!platform::entryExists(scratch / "copy"));
    CHECK(platform::syncFileSystem(scratch.path(), &error));
}

#ifdef _WIN32
TEST_CASE(long_path_through_its_long_form) {
    ScratchDir scratch;
    // One name of 250 characters takes the path past 260 whatever the temporary directory.
    const NativeString directory = L"\\\\?\\" + scratch.path() + L"\\" + NativeString(250, L'd');
    REQUIRE(testsupport::makeDirectory(directory));
    const NativeString path = directory + L"\\file.bin";
    CHECK_EQ(writeError(path), 0u);
    CHECK_EQ(openError(path), 0u);
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
    CHECK_EQ(probeError(link), platform::kErrorFileExists);
    CHECK_EQ(writeError(link), platform::kErrorFileExists);
    std::uint32_t error = 0;
    CHECK(platform::entryExists(link));
    REQUIRE(::symlink((scratch / "new").c_str(), (scratch / "good-link").c_str()) == 0);
    CHECK_EQ(platform::regularFileSize(scratch / "good-link"), -1);
    CHECK(!platform::renameNoReplace(scratch / "new", link, &error));
    CHECK_EQ(error, platform::kErrorFileExists);
    CHECK(!platform::copyToNewFile(scratch / "new", link, &error));
    CHECK_EQ(error, platform::kErrorFileExists);
    CHECK(platform::replaceFile(scratch / "new", link, &error));
    CHECK_EQ(testsupport::readFile(link), std::string("abc"));
    CHECK_EQ(openError(target), platform::kErrorFileNotFound);
}

// An installed file is never writable by others, nor setuid: a root-owned copy of a staged 0666
// or 4777 file would let any user replace what the next elevated run starts.
TEST_CASE(copy_keeps_the_permissions_but_no_write_for_others) {
    ScratchDir scratch;
    REQUIRE(testsupport::writeFile(scratch / "tool", "#!/bin/sh\n"));
    const std::pair<mode_t, mode_t> modes[] = {
        {0750, 0750}, {0666, 0644}, {04777, 0755}, {06755, 0755}, {01777, 0755}};
    for (const auto& [staged, installed] : modes) {
        harness::row = std::to_string(staged);
        REQUIRE(::chmod((scratch / "tool").c_str(), staged) == 0);
        std::uint32_t error = 0;
        ::unlink((scratch / "copy").c_str());
        REQUIRE(platform::copyToNewFile(scratch / "tool", scratch / "copy", &error));
        struct stat st;
        REQUIRE(::stat((scratch / "copy").c_str(), &st) == 0);
        CHECK_EQ(st.st_mode & 07777, installed);
    }
}

// A file size limit below the file stops the write partway, as a full disk would.
TEST_CASE(new_file_that_cannot_be_written_whole_is_gone) {
    ScratchDir scratch;
    const std::string bytes(8192, 'x');
    std::uint32_t error = 0;
    REQUIRE(platform::writeNewFile(scratch / "source", bytes.data(), bytes.size(), &error));
    rlimit previous;
    REQUIRE(::getrlimit(RLIMIT_FSIZE, &previous) == 0);
    const rlimit limited = {4096, previous.rlim_max};
    ::signal(SIGXFSZ, SIG_IGN);
    REQUIRE(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
    const bool written =
        platform::writeNewFile(scratch / "written", bytes.data(), bytes.size(), &error);
    const bool copied = platform::copyToNewFile(scratch / "source", scratch / "copied", &error);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    ::signal(SIGXFSZ, SIG_DFL);
    CHECK(!written && !copied);
    CHECK(!platform::entryExists(scratch / "written"));
    CHECK(!platform::entryExists(scratch / "copied"));
}

// Each would read as an empty or endless file, or block the reader for ever.
TEST_CASE(fifos_and_devices_are_refused_at_once) {
    ScratchDir scratch;
    REQUIRE(::mkfifo((scratch / "fifo").c_str(), 0600) == 0);
    CHECK_EQ(openError(scratch / "fifo"), platform::kErrorAccessDenied);
    // A writer holding the FIFO open: the open succeeds at once, reading would wait for ever.
    const int writer = ::open((scratch / "fifo").c_str(), O_RDWR | O_CLOEXEC);
    REQUIRE(writer >= 0);
    CHECK_EQ(openError(scratch / "fifo"), platform::kErrorAccessDenied);
    ::close(writer);
    CHECK_EQ(openError("/dev/zero"), platform::kErrorAccessDenied);
}
#endif

TEST_CASE(directory_lock_is_exclusive_until_its_owner_ends) {
    ScratchDir scratch;
    std::uint32_t error = 0;
    {
        platform::DirectoryLock first;
        REQUIRE(first.acquire(scratch.path(), &error));
        platform::DirectoryLock second;
        CHECK(!second.acquire(scratch.path(), &error));
        CHECK_EQ(error, platform::kErrorSharingViolation);
    }
    platform::DirectoryLock again;
    CHECK(again.acquire(scratch.path(), &error));
    platform::DirectoryLock missing;
    CHECK(!missing.acquire(scratch / "none", &error));
    CHECK(error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound);
}

TEST_CASE(file_stamp_tells_a_rewritten_or_replaced_file) {
    ScratchDir scratch;
    platform::FileStamp before;
    platform::FileStamp after;
    CHECK(!platform::regularFileStamp(scratch / "ack", &before));
    CHECK(!platform::regularFileStamp(scratch.path(), &before));
    REQUIRE(testsupport::writeFile(scratch / "ack", "earlier"));
    REQUIRE(platform::regularFileStamp(scratch / "ack", &before));
    REQUIRE(platform::regularFileStamp(scratch / "ack", &after));
    CHECK(before == after);
    REQUIRE(testsupport::writeFile(scratch / "other", "earlier"));
    std::uint32_t error = 0;
    REQUIRE(platform::replaceFile(scratch / "other", scratch / "ack", &error));
    REQUIRE(platform::regularFileStamp(scratch / "ack", &after));
    CHECK(before != after);
}

TEST_CASE(wait_for_process_that_ends_or_runs) {
    platform::Process child;
    std::uint32_t error = 0;
    REQUIRE(child.start(testsupport::selfPath(),
                        {testsupport::native("--exit"), testsupport::native("0")}, &error));
    // The child has ended or ends while waited for; it stays a process until followed.
    CHECK(platform::waitForProcessExit(child.id(), 60000, &error) == ProcessWait::Ended);
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
    std::uint32_t pid = 0;
    {
        platform::Process child;
        std::uint32_t error = 0;
        REQUIRE(child.start(testsupport::selfPath(),
                            {testsupport::native("--exit"), testsupport::native("0")}, &error));
        REQUIRE(child.wait(platform::kWaitForever) == ProcessWait::Ended);
        pid = child.id();
    }
    std::uint32_t error = 0;
    CHECK(platform::waitForProcessExit(pid, 0, &error) == ProcessWait::OpenFailed);
    CHECK_EQ(error, platform::kErrorInvalidParameter);
}

int main(int argc, char** argv) {
    const int childCode = testsupport::childMode(argc, argv);
    return childCode >= 0 ? childCode : harness::run(argc, argv);
}
