// Sample release packages (tools/sample_release), built once per test process.
#pragma once

#include <string>

// The installer package of release `version`, made with make_sample_msi.sh `scriptOptions`,
// with a payload of `payloadBytes` zero bytes when not 0.
const std::string& samplePackage(const std::string& version, const std::string& scriptOptions = "",
                                 unsigned long payloadBytes = 0);
