// Any manifest through the value reads and the decision: an offer exactly for the updater's AppId
// and a predicate with an operator, its version a trimmed part after the last '<' (else '>').
#include <cstdlib>
#include <fstream>

#include "support/temp_dir.h"
#include "update/version_decision.h"
#include "update/xml_value.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const TempDir dir;
    const std::string path = dir.path() + "/serverManifest.xml";
    std::ofstream(path, std::ios::binary) << std::string(reinterpret_cast<const char*>(data), size);
    const std::string appId = readXmlValue(path, "AppId");
    const std::string predicate = readXmlValue(path, "Predicate");
    Offer offer;
    const std::string& version = offer.version;
    if (readOffer(appId, predicate, offer) !=
            (appId == "com.halvornesys.pelorin" &&
             predicate.find_first_of("<>") != std::string::npos) ||
        predicate.find(version) == std::string::npos || version.find('<') != std::string::npos ||
        (predicate.find('<') == std::string::npos && version.find('>') != std::string::npos) ||
        (!version.empty() && (version.front() == ' ' || version.back() == ' ')))
        std::abort();
    return 0;
}
