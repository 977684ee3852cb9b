// The signature file, ReleaseSerial.txt and a cut download's record: nothing read that the
// format rejects, so what is read writes back to the same bytes, with an expiry that names a
// real second.
#include <cstdlib>
#include <string>

#include "transfer/partial_record.h"
#include "update/release_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ReleaseSignature signature;
    if (parseReleaseSignature(text, signature) &&
        (releaseSignatureText(signature) != text ||
         utcText(signature.expiresAt) != signature.expires ||
         signature.serial > 999999999999999999ULL)) {
        std::abort();
    }
    AcceptedRelease accepted;
    if (parseAcceptedRelease(text, accepted) && acceptedReleaseText(accepted) != text) std::abort();
    PartialRecord record;
    if (parsePartialRecord(text, record) && partialRecordText(record) != text) std::abort();
    return 0;
}
