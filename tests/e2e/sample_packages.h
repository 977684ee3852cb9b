// Sample release packages built from tools/sample_release, once per test
// process and version.
#pragma once

#include <string>

// The path of a real installer package of the sample release `version`, its
// program tree below ProgramFilesFolder unless `scriptOptions`, options of
// make_sample_msi.sh such as "--lower-case-folder", build it otherwise. Throws
// std::runtime_error with the build's output when it cannot be built.
const std::string& samplePackage(const std::string& version, const std::string& scriptOptions = "");
