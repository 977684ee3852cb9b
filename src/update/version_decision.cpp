#include "update/version_decision.h"

#include <cstdlib>

#include "core/text.h"

float versionNumber(const std::string& text) {
    return static_cast<float>(std::atof(text.c_str()));
}

bool readOffer(const std::string& appId, const std::string& predicate, Offer& offer) {
    std::size_t operatorPosition = predicate.rfind('<');
    const bool lessThan = operatorPosition != std::string::npos;
    if (!lessThan) operatorPosition = predicate.rfind('>');
    if (appId != "com.halvornesys.pelorin" || operatorPosition == std::string::npos) return false;
    offer.lessThan = lessThan;
    offer.version = std::string(withoutOuterSpaces(predicate.substr(operatorPosition + 1)));
    return true;
}

bool offersUpdate(const Offer& offer, float installedVersion) {
    const float offeredVersion = versionNumber(offer.version);
    return offer.lessThan ? offeredVersion > installedVersion : installedVersion > offeredVersion;
}
