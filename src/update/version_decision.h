// The version decision of an update manifest, apart from the files it is read
// from: which version a manifest offers, and whether that is an update for a
// given installed version. The update run and the release tools judge alike.
#pragma once

#include <string>

// Versions compare as decimal fractions held in 32-bit floats (atof): "2.10"
// is 2.1, older than "2.9"; "1.2.3" is 1.2.
float versionNumber(const std::string& text);

// What a manifest's Predicate offers.
struct Offer {
    bool lessThan = true;  // "<" offers to older installations, ">" to newer ones
    std::string version;   // the text after the operator, without outer spaces
};

// Reads the offer from a manifest's AppId and Predicate texts: the last '<'
// decides, else the last '>'. False when the manifest is corrupt (an AppId
// other than the browser's, or a Predicate without either operator); `offer`
// is untouched then.
bool readOffer(const std::string& appId, const std::string& predicate, Offer& offer);

// True when `offer` is an update for an installation of `installedVersion`;
// equal versions never are.
bool offersUpdate(const Offer& offer, float installedVersion);
