// Sample release packages (tools/sample_release), built once per test process.
#pragma once

#include <string>

// A real installer package of the sample release `version`, built with the
// options `scriptOptions` of make_sample_msi.sh (e.g. "--lower-case-folder");
// throws std::runtime_error with the script's output when it fails.
const std::string& samplePackage(const std::string& version, const std::string& scriptOptions = "");
