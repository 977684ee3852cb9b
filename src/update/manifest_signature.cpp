#include "update/manifest_signature.h"

#include <curl/curl.h>

#include <cstdio>

#include "core/path_utils.h"
#include "core/updater_context.h"
#include "platform/platform.h"
#include "platform/stdio_file.h"
#include "transfer/proxy_route.h"
#include "transfer/transfer_options.h"
#include "update/release_signature.h"

namespace {

unsigned long long storedSerial(const std::string& path) {
    std::string text;
    if (!readWholeFile(path, text)) return 0;
    unsigned long long serial = 0;
    for (std::size_t i = 0; i < text.size() && i < 19 && text[i] >= '0' && text[i] <= '9'; ++i)
        serial = serial * 10 + static_cast<unsigned>(text[i] - '0');
    return serial;
}

const char* refusalText(SignatureVerdict verdict) {
    switch (verdict) {
        case SignatureVerdict::Missing:
            return "Manifest signature missing";
        case SignatureVerdict::NotVerified:
            return "Manifest signature does not verify";
        case SignatureVerdict::Expired:
            return "Manifest signature expired";
        case SignatureVerdict::Older:
            return "Manifest signature older than the accepted release";
        case SignatureVerdict::Accepted:
            break;
    }
    return "";
}

}  // namespace

bool manifestSignatureAccepted(UpdaterContext& context, TransferHandle& handle,
                               const std::string& url) {
    const std::string manifestPath = joinPath(context.dataDir, "serverManifest.xml");
    const std::string signaturePath = manifestPath + ".sig";
    bool present = false;
    StdioFile file(signaturePath, "wb");
    if (file) {
        BoundedFile target;
        target.file = file.get();
        target.limit = releaseSignatureByteLimit;
        present = performThroughProxies(handle, url + ".sig", target, context) == CURLE_OK &&
                  !target.limitPassed;
        present = file.close() && present;
    }
    std::string manifest, signatureText;
    present = present && readWholeFile(signaturePath, signatureText);
    std::remove(signaturePath.c_str());
    const std::string serialPath = joinPath(context.dataDir, "ReleaseSerial.txt");
    ReleaseSignature signature;
    const SignatureVerdict verdict =
        readWholeFile(manifestPath, manifest)
            ? judgeRelease(context.releasePublicKey, manifest, present, signatureText,
                           platform::calendarSeconds(), storedSerial(serialPath), signature)
            : SignatureVerdict::Missing;
    if (verdict != SignatureVerdict::Accepted) {
        if (context.manifestRefusal.empty()) context.manifestRefusal = refusalText(verdict);
        return false;
    }
    // Beside the file, on the disk, then renamed over it in one step, as the list.
    if (signature.serial > storedSerial(serialPath)) {
        replaceFileWithText(serialPath, joinPath(context.dataDir, "~tmpSerial.txt"),
                            std::to_string(signature.serial) + "\n");
    }
    return true;
}
