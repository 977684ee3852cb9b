// The manifest and the local version file, whatever they hold, through the
// manifest read and the version decision: a corrupt manifest always gives the
// corrupt line and the fatal state; any other gives exactly one decision line,
// consistent with the result, `updateFound` and the offered version.
//
// The input is the manifest; when it holds the line "#UpdatePelorin.xml", what
// follows that line is the local version file, which is otherwise missing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/path_utils.h"
#include "fuzz/fuzz_installation.h"

namespace {

const std::string versionFileMarker = "\n#UpdatePelorin.xml\n";

// Both files as the input gives them.
void writeFiles(const std::string& input, const Installation& installation) {
    const std::string versionPath = joinPath(installation.applicationDir, "UpdatePelorin.xml");
    const std::size_t marker = input.find(versionFileMarker);
    writeBytes(joinPath(installation.dataDir, "serverManifest.xml"), input.substr(0, marker));
    if (marker == std::string::npos) {
        std::remove(versionPath.c_str());
    } else {
        writeBytes(versionPath, input.substr(marker + versionFileMarker.size()));
    }
}

void checkCorruptOutcome(const UpdaterContext& context, bool offered, const std::string& log) {
    require(!offered && !context.updateFound, "a corrupt manifest offered an update");
    require(context.state == LogLevel::Fatal, "a corrupt manifest left the state other than fatal");
    require(log == "Fatal Error! Server manifest file is corrupt.\n",
            "a corrupt manifest gave other lines than the corrupt line");
}

void checkDecision(const UpdaterContext& context, const std::string& predicate, bool offered,
                   const std::string& log) {
    require(context.state == LogLevel::Info, "a decision changed the state");
    require(offered == context.updateFound, "the result and updateFound disagree");
    const std::string& version = context.newVersion;
    require(version.empty() || (version.front() != ' ' && version.back() != ' '),
            "the offered version keeps outer spaces");
    const bool hasLessThan = predicate.find('<') != std::string::npos;
    require(version.find('<') == std::string::npos &&
                (hasLessThan || version.find('>') == std::string::npos),
            "the offered version does not follow the last operator");
    require(predicate.find(version) != std::string::npos,
            "the offered version is not in the predicate");
    if (offered) {
        require(log == "An updated Pelorin version " + version + " found on server.\n",
                "an offer gave other lines than its decision line");
    } else {
        require(log == "Pelorin is up-to-date, no update found on server.\n",
                "no offer gave other lines than its decision line");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    UpdaterContext& context = fuzzContext();
    writeFiles(std::string(reinterpret_cast<const char*>(data), size), fuzzInstallation());
    context.state = LogLevel::Info;
    context.updateFound = false;
    context.newVersion = "(not set)";

    // Read whatever the manifest holds: a corrupt manifest spares the decision
    // from reading it.
    context.readInstalledVersion();
    const std::string appId = context.readManifestValue("AppId");
    const std::string predicate = context.readManifestValue("Predicate");
    const bool corrupt =
        appId != "com.halvornesys.pelorin" || predicate.find_first_of("<>") == std::string::npos;

    const bool offered = context.evaluateManifest();
    const std::string log = takeLogText(context);
    if (corrupt) {
        checkCorruptOutcome(context, offered, log);
    } else {
        checkDecision(context, predicate, offered, log);
    }
    return 0;
}
