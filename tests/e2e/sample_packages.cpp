#include "e2e/sample_packages.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>

#include "support/installation.h"

const std::string& samplePackage(const std::string& version, const std::string& scriptOptions,
                                 unsigned long payloadBytes) {
    static TempDir packagesDir;
    static std::map<std::string, std::string> built;
    const std::string key = version + scriptOptions + " " + std::to_string(payloadBytes);
    if (built.count(key)) return built[key];
    const std::string package =
        packagesDir.path() + "/Pelorin-" + std::to_string(built.size()) + ".msi";
    std::string payload;
    if (payloadBytes) {
        payload = package + ".payload";
        std::ofstream(payload, std::ios::binary) << std::string(payloadBytes, '\0');
    }
    // The script refuses a version of anything but numbers and dots.
    const std::string command =
        "sh '" PELORIN_SOURCE_DIR "/tools/sample_release/make_sample_msi.sh' " + scriptOptions +
        " '" + version + "' '" + package + "' " + (payload.empty() ? "" : "'" + payload + "'") +
        " >'" + package + ".out' 2>&1";
    if (version.find('\'') != std::string::npos || std::system(command.c_str()) != 0)
        throw std::runtime_error("make_sample_msi.sh failed:\n" + readFile(package + ".out"));
    return built[key] = package;
}
