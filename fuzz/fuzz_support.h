// What every target shares: the input as Qt bytes, the fixed trust anchor and the checks of an
// accepted inventory. Linking it also drops Qt's log lines: a reader that refuses input logs
// why, and millions of runs would flood the output.
#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "manifest_file.h"

class SignatureVerifier;

namespace fuzz {

// The input as bytes, without a copy that would hide reads past its end from the sanitizer.
inline QByteArray bytesOf(const std::uint8_t* data, std::size_t size) {
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                   static_cast<qsizetype>(size));
}

// A verifier that trusts the tests' key ("launcher-test-1") and nothing else.
const SignatureVerifier& testVerifier();

// Fails unless `files` is an inventory the rules allow: 1 to 20000 files, each with a safe path,
// a size of at least 0 and at most `maxTotal` in all, a 32-byte digest, no path twice after
// case folding.
void checkInventory(const QList<ManifestFile>& files, qint64 maxTotal);

// Stops the run with `what` on stderr: an invariant of a reader broke.
[[noreturn]] void fail(const char* what);

}  // namespace fuzz
