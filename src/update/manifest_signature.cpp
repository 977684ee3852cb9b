// The release signature beside each manifest, for a build that carries a
// release key: fetched on the manifest's handle, judged, and the highest
// serial accepted kept in the data folder so that no server can take the
// installation back to an older release.
#include <curl/curl.h>

#include <cstdio>

#include "app/path_utils.h"
#include "app/updater_context.h"
#include "platform/platform.h"
#include "transfer/proxy_route.h"
#include "transfer/transfer_options.h"
#include "update/release_signature.h"

namespace {

bool readWhole(const std::string& path, std::string& text) {
    text.clear();
    FILE* file = platform::openFile(path, "rb");
    if (!file) return false;
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
    const bool read = !std::ferror(file);
    std::fclose(file);
    return read;
}

unsigned long long storedSerial(const std::string& path) {
    std::string text;
    if (!readWhole(path, text)) return 0;
    unsigned long long serial = 0;
    for (std::size_t i = 0; i < text.size() && i < 19 && text[i] >= '0' && text[i] <= '9'; ++i)
        serial = serial * 10 + static_cast<unsigned>(text[i] - '0');
    return serial;
}

// Beside the file, on the disk, then renamed over it in one step, as the list.
void storeSerial(const std::string& path, const std::string& temporaryPath,
                 unsigned long long serial) {
    FILE* file = platform::openFile(temporaryPath, "wb");
    if (!file) return;
    const std::string text = std::to_string(serial) + "\n";
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                         platform::flushToDisk(file);
    if (std::fclose(file) == 0 && written && platform::replaceFile(temporaryPath, path)) return;
    std::remove(temporaryPath.c_str());
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

bool UpdaterContext::manifestSignatureAccepted(const std::string& url) {
    const std::string manifestPath = joinPath(dataDir, "serverManifest.xml");
    const std::string signaturePath = manifestPath + ".sig";
    bool present = false;
    if (FILE* file = platform::openFile(signaturePath, "wb")) {
        // The manifest's handle, with its rules; only the URL and the cap are
        // the signature's own.
        curl_easy_setopt(curl, CURLOPT_URL, (url + ".sig").c_str());
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(releaseSignatureByteLimit));
        BoundedFile target;
        target.file = file;
        target.limit = releaseSignatureByteLimit;
        present =
            performThroughProxies(curl, url + ".sig", curlErrorBuffer, target, *this) == CURLE_OK &&
            !target.limitPassed;
        present = std::fclose(file) == 0 && present;
    }
    std::string manifest, signatureText;
    present = present && readWhole(signaturePath, signatureText);
    std::remove(signaturePath.c_str());
    const std::string serialPath = joinPath(dataDir, "ReleaseSerial.txt");
    ReleaseSignature signature;
    const SignatureVerdict verdict =
        readWhole(manifestPath, manifest)
            ? judgeRelease(releasePublicKey, manifest, present, signatureText,
                           platform::calendarSeconds(), storedSerial(serialPath), signature)
            : SignatureVerdict::Missing;
    if (verdict != SignatureVerdict::Accepted) {
        if (manifestRefusal.empty()) manifestRefusal = refusalText(verdict);
        return false;
    }
    if (signature.serial > storedSerial(serialPath)) {
        storeSerial(serialPath, joinPath(dataDir, "~tmpSerial.txt"), signature.serial);
    }
    return true;
}
