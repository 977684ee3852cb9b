// Sample release packages (tools/sample_release), built once per test process.
#pragma once

#include <string>

// The installer package of release `version`, made with make_sample_msi.sh `scriptOptions`.
const std::string& samplePackage(const std::string& version, const std::string& scriptOptions = "");
