#include "update/version_decision.h"

#include <cstdlib>

namespace {

std::string withoutOuterSpaces(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

float versionNumber(const std::string& text) {
    return static_cast<float>(std::atof(text.c_str()));
}

bool readOffer(const std::string& appId, const std::string& predicate, Offer& offer) {
    std::size_t operatorPosition = predicate.rfind('<');
    const bool lessThan = operatorPosition != std::string::npos;
    if (!lessThan) operatorPosition = predicate.rfind('>');
    if (appId != "com.halvornesys.pelorin" || operatorPosition == std::string::npos) return false;
    offer.lessThan = lessThan;
    offer.version = withoutOuterSpaces(predicate.substr(operatorPosition + 1));
    return true;
}

bool offersUpdate(const Offer& offer, float installedVersion) {
    const float offeredVersion = versionNumber(offer.version);
    return offer.lessThan ? offeredVersion > installedVersion : installedVersion > offeredVersion;
}
