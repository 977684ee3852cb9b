// pelorin-publish: writes the update manifest that offers an installer
// package, and optionally a server list, to installed updaters.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "publish/input_checks.h"
#include "publish/list_check.h"
#include "publish/manifest_writer.h"
#include "publish/package_check.h"
#include "transfer/file_hash.h"

namespace {

const char* const usageText =
    "usage: pelorin-publish --package FILE --version V --url URL\n"
    "           [--list FILE --list-version V --list-url URL\n"
    "            [--allow-unauthenticated-mirrors]] [--output MANIFEST]\n"
    "Writes the update manifest offering the package FILE as browser version V,\n"
    "served at URL, and optionally the server list FILE as list version V, served\n"
    "at URL. The manifest goes to MANIFEST, or to standard output.\n"
    "The package must unpack as the updater unpacks it and say version V in its\n"
    "Application/UpdatePelorin.xml; every server in the list must use https unless\n"
    "--allow-unauthenticated-mirrors is given.\n";

const std::vector<std::string> valueOptions = {"--package",  "--version",      "--url",   "--list",
                                               "--list-url", "--list-version", "--output"};
const char* const allowUnauthenticatedMirrors = "--allow-unauthenticated-mirrors";

using Options = std::map<std::string, std::string>;

bool fail(const std::string& message) {
    std::cerr << "pelorin-publish: " << message << "\n";
    return false;
}

void note(const std::string& message) {
    if (!message.empty()) std::cerr << "pelorin-publish: note: " << message << "\n";
}

// Every option but the one switch takes one value; each may be given once.
bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const bool isSwitch = name == allowUnauthenticatedMirrors;
        bool known = isSwitch;
        for (const std::string& option : valueOptions) known = known || option == name;
        if (!known) return fail("unknown option \"" + name + "\"");
        if (options.count(name)) return fail(name + " given twice");
        if (isSwitch) {
            options[name];
            continue;
        }
        if (i + 1 == argc) return fail(name + " needs a value");
        options[name] = argv[++i];
    }
    return true;
}

bool checkRequired(const Options& options) {
    for (const char* name : {"--package", "--version", "--url"}) {
        if (!options.count(name)) return fail(std::string(name) + " is missing");
    }
    const std::size_t listParts =
        options.count("--list") + options.count("--list-version") + options.count("--list-url");
    if (listParts != 0 && listParts != 3) {
        return fail("--list, --list-version and --list-url go together");
    }
    return true;
}

bool checkVersion(const std::string& version) {
    const std::string problem = versionProblem(version);
    if (!problem.empty()) return fail(problem);
    note(versionNote(version));
    return true;
}

bool checkUrl(const std::string& url) {
    const std::string problem = urlProblem(url);
    return problem.empty() || fail(problem);
}

bool hashOf(const std::string& path, std::string& hash) {
    hash = hashFileToHex(path);
    return !hash.empty() || fail("cannot read \"" + path + "\"");
}

bool checkPackage(const std::string& path, const std::string& version) {
    const std::string problem = packageProblem(path, version);
    return problem.empty() || fail(problem);
}

bool checkList(const Options& options) {
    const std::string problem = listProblem(options.at("--list"), options.at("--list-version"),
                                            options.count(allowUnauthenticatedMirrors) != 0);
    return problem.empty() || fail(problem);
}

bool gatherListFields(const Options& options, ManifestFields& fields) {
    fields.listVersion = options.at("--list-version");
    fields.listUrl = options.at("--list-url");
    return checkVersion(fields.listVersion) && checkUrl(fields.listUrl) &&
           hashOf(options.at("--list"), fields.listHash) && checkList(options);
}

// The unpack of the package, the slowest check, comes last.
bool gatherFields(const Options& options, ManifestFields& fields) {
    fields.version = options.at("--version");
    fields.packageUrl = options.at("--url");
    return checkVersion(fields.version) && checkUrl(fields.packageUrl) &&
           hashOf(options.at("--package"), fields.packageHash) &&
           (!options.count("--list") || gatherListFields(options, fields)) &&
           checkPackage(options.at("--package"), fields.version);
}

// Written beside the target and renamed, so a server publishing the file
// never serves half a manifest.
bool writeFile(const std::string& path, const std::string& text) {
    const std::string partial = path + ".partial";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        file << text;
        file.close();
        if (!file) return fail("cannot write \"" + partial + "\"");
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        return fail("cannot write \"" + path + "\"");
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::cout << usageText;
        return 0;
    }
    Options options;
    if (!parseOptions(argc, argv, options) || !checkRequired(options)) {
        std::cerr << usageText;
        return 2;
    }
    ManifestFields fields;
    if (!gatherFields(options, fields)) return 1;
    const std::string text = manifestText(fields);
    if (!options.count("--output")) {
        std::cout << text;
        return std::cout.flush() ? 0 : 1;
    }
    return writeFile(options.at("--output"), text) ? 0 : 1;
}
