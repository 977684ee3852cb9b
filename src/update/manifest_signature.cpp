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
#include "update/xml_value.h"

namespace {

// "N SHA256\n" is 84 bytes; anything much longer is no serial file.
constexpr std::size_t serialFileByteLimit = 256;

// False when the file is present but cannot be read whole in its format; an
// absent file is a first install, serial 0.
bool readAccepted(const std::string& path, AcceptedRelease& accepted) {
    if (!platform::fileStatus(path).exists) return true;
    StdioFile file(path, "rb");
    char bytes[serialFileByteLimit + 1];
    const std::size_t length = file ? std::fread(bytes, 1, sizeof bytes, file.get()) : 0;
    return file && !std::ferror(file.get()) && length <= serialFileByteLimit &&
           parseAcceptedRelease(std::string(bytes, length), accepted);
}

const char* refusalText(SignatureVerdict verdict) {
    switch (verdict) {
        case SignatureVerdict::Missing:
            return "Manifest signature missing";
        case SignatureVerdict::NotInFormat:
            return "Manifest signature not in the format";
        case SignatureVerdict::NotVerified:
            return "Manifest signature does not verify";
        case SignatureVerdict::Expired:
            return "Manifest signature expired";
        case SignatureVerdict::Older:
            return "Manifest signature older than the accepted release";
        case SignatureVerdict::OtherManifest:
            return "Manifest signature repeats the accepted serial over another manifest";
        case SignatureVerdict::Accepted:
            break;
    }
    return "";
}

bool isSha256Text(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The signature file at `url`, at most releaseSignatureByteLimit bytes; false
// when none could be fetched.
bool fetchSignature(UpdaterContext& context, TransferHandle& handle, const std::string& url,
                    std::string& text) {
    const std::string signaturePath = joinPath(context.dataDir, "serverManifest.xml.sig");
    bool present = false;
    StdioFile file(signaturePath, "wb");
    if (file) {
        BoundedFile target;
        target.file = file.get();
        target.limit = releaseSignatureByteLimit;
        present =
            performThroughProxies(handle, url, target, context) == CURLE_OK && !target.limitPassed;
        present = file.close() && present;
    }
    present = present && readWholeFile(signaturePath, text);
    std::remove(signaturePath.c_str());
    return present;
}

bool refuse(UpdaterContext& context, const std::string& reason) {
    if (context.manifestRefusal.empty()) context.manifestRefusal = reason;
    return false;
}

}  // namespace

bool manifestSignatureAccepted(UpdaterContext& context, TransferHandle& handle,
                               const std::string& url, const std::string& manifest) {
    const std::string serialPath = joinPath(context.dataDir, "ReleaseSerial.txt");
    AcceptedRelease accepted;
    if (!readAccepted(serialPath, accepted))
        return refuse(context, "Release serial file is unreadable");
    std::string signatureText;
    const bool present = fetchSignature(context, handle, url + ".sig", signatureText);
    ReleaseSignature signature;
    const SignatureVerdict verdict =
        judgeRelease(context.releasePublicKey, manifest, present, signatureText,
                     platform::calendarSeconds(), accepted, signature);
    if (verdict != SignatureVerdict::Accepted) return refuse(context, refusalText(verdict));
    // The package and the list are bound by SHA-256 too: SHA-1 alone admits
    // chosen-prefix collisions.
    if (!isSha256Text(xmlValueOfText(manifest, "Sha256")) ||
        (!xmlValueOfText(manifest, "Listfile").empty() &&
         !isSha256Text(xmlValueOfText(manifest, "Listsha256")))) {
        return refuse(context, "Signed manifest without SHA-256");
    }
    const AcceptedRelease now = {signature.serial, sha256Hex(manifest)};
    if (now.serial == accepted.serial && now.manifestSha256 == accepted.manifestSha256) return true;
    // Beside the file, on the disk, then renamed over it in one step, as the list.
    if (!replaceFileWithText(serialPath, joinPath(context.dataDir, "~tmpSerial.txt"),
                             acceptedReleaseText(now))) {
        context.log("Failed to record the accepted release serial", LogLevel::Warning, true);
    }
    return true;
}
