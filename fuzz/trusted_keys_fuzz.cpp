// The trusted key document: taken whole with every key id trimmed and within its length, or
// refused with a reason and no verifier.
#include "fuzz_support.h"
#include "signature_verifier.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<SignatureVerifier> verifier;
    QString message;
    if (!SignatureVerifier::fromTrustedKeyDocument(fuzz::bytesOf(data, size), verifier, message)) {
        if (verifier || message.isEmpty()) {
            fuzz::fail("a refused document left a verifier or no reason");
        }
        return 0;
    }
    for (const QString& id : verifier->trustedKeyIds()) {
        if (id.isEmpty() || id.size() > SignatureVerifier::kMaxKeyIdLength || id != id.trimmed()) {
            fuzz::fail("an accepted document holds a key id outside the rules");
        }
    }
    return 0;
}
