// pelorin-publish: writes the update manifest that offers an installer
// package, and optionally a server list, to installed updaters.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "publish/input_checks.h"
#include "publish/manifest_writer.h"
#include "serverlist/list_lines.h"
#include "transfer/file_hash.h"

namespace {

const char* const usageText =
    "usage: pelorin-publish --package FILE --version V --url URL\n"
    "           [--list FILE --list-version V --list-url URL] [--output MANIFEST]\n"
    "Writes the update manifest offering the package FILE as browser version V,\n"
    "served at URL, and optionally the server list FILE as list version V, served\n"
    "at URL. The manifest goes to MANIFEST, or to standard output.\n";

const std::vector<std::string> knownOptions = {"--package",  "--version",      "--url",   "--list",
                                               "--list-url", "--list-version", "--output"};

using Options = std::map<std::string, std::string>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool fail(const std::string& message) {
    std::cerr << "pelorin-publish: " << message << "\n";
    return false;
}

void note(const std::string& message) {
    if (!message.empty()) std::cerr << "pelorin-publish: note: " << message << "\n";
}

// Every option takes one value and may be given once.
bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        bool known = false;
        for (const std::string& option : knownOptions) known = known || option == name;
        if (!known) return fail("unknown option \"" + name + "\"");
        if (i + 1 == argc) return fail(name + " needs a value");
        if (options.count(name)) return fail(name + " given twice");
        options[name] = argv[i + 1];
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

// The list must name the version the manifest announces for it: once in
// place, its own version line is what the updater compares the next
// manifest's with, so a list that says less would be fetched on every run.
bool checkListFile(const std::string& path, const std::string& announcedVersion) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return fail("cannot read \"" + path + "\"");
    std::vector<std::string> urls;
    std::string version = "0.0";
    readListLines(file.get(), urls, version);
    if (static_cast<float>(std::atof(version.c_str())) !=
        static_cast<float>(std::atof(announcedVersion.c_str()))) {
        return fail("the server list \"" + path + "\" says Version = " + version +
                    ", but --list-version is " + announcedVersion);
    }
    if (urls.empty()) note("the server list names no server; updaters will ask the main server");
    return true;
}

bool gatherFields(const Options& options, ManifestFields& fields) {
    fields.version = options.at("--version");
    fields.packageUrl = options.at("--url");
    if (!checkVersion(fields.version) || !checkUrl(fields.packageUrl) ||
        !hashOf(options.at("--package"), fields.packageHash)) {
        return false;
    }
    if (!options.count("--list")) return true;
    fields.listVersion = options.at("--list-version");
    fields.listUrl = options.at("--list-url");
    return checkVersion(fields.listVersion) && checkUrl(fields.listUrl) &&
           hashOf(options.at("--list"), fields.listHash) &&
           checkListFile(options.at("--list"), fields.listVersion);
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
