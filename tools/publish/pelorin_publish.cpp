// pelorin-publish: writes the update manifest that offers an installer
// package, and optionally a server list, to installed updaters.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/path_utils.h"
#include "publish/delta_writer.h"
#include "publish/input_checks.h"
#include "publish/list_check.h"
#include "publish/manifest_writer.h"
#include "publish/package_check.h"
#include "publish/release_signing.h"
#include "transfer/file_hash.h"
#include "transfer/file_sha256.h"
#include "update/release_signature.h"
#include "update/version_decision.h"

namespace {

const char* const usageText =
    "usage: pelorin-publish --package FILE --version V --url URL\n"
    "           [--list FILE --list-version V --list-url URL\n"
    "            [--allow-unauthenticated-mirrors]] [--output MANIFEST]\n"
    "           [--delta-from PREVIOUS.msi]...\n"
    "           [--sign KEY --serial N --expires DAYS\n"
    "            [--previous-signature FILE [--same-release]]]\n"
    "       pelorin-publish keygen KEY\n"
    "Writes the update manifest offering the package FILE as browser version V,\n"
    "served at URL, and optionally the server list FILE as list version V, served\n"
    "at URL. The manifest goes to MANIFEST, or to standard output.\n"
    "The package must unpack as the updater unpacks it and say version V in its\n"
    "Application/UpdatePelorin.xml; every server in the list must use https unless\n"
    "--allow-unauthenticated-mirrors is given.\n"
    "With --sign, the manifest also carries the SHA-256 of the package (Sha256)\n"
    "and of the list (Listsha256), and the signature file MANIFEST.sig is written\n"
    "beside it: release serial N, which must be higher than the one in the\n"
    "previous signature FILE, valid for DAYS days, signed with the private key KEY.\n"
    "--same-release signs the release FILE covers again (a new expiry): N must be\n"
    "FILE's serial and FILE must verify over the new manifest's exact bytes.\n"
    "Signed content is authenticated, so any mirror scheme is accepted in the list.\n"
    "--delta-from writes, beside the package, the delta file from the release\n"
    "PREVIOUS.msi holds (PACKAGE-from-VERSION.delta, served beside the package's\n"
    "URL) and names it in the manifest; give it once per earlier release.\n"
    "keygen writes a new private key to KEY (readable by its owner only) and its\n"
    "public key, the build's PELORIN_RELEASE_PUBLIC_KEY, to KEY.pub.\n";

const std::vector<std::string> valueOptions = {
    "--package", "--version", "--url",    "--list",    "--list-url",          "--list-version",
    "--output",  "--sign",    "--serial", "--expires", "--previous-signature"};
const char* const allowUnauthenticatedMirrors = "--allow-unauthenticated-mirrors";
const char* const sameRelease = "--same-release";

using Options = std::map<std::string, std::string>;

bool fail(const std::string& message) {
    std::cerr << "pelorin-publish: " << message << "\n";
    return false;
}

void note(const std::string& message) {
    if (!message.empty()) std::cerr << "pelorin-publish: note: " << message << "\n";
}

const char* const deltaFrom = "--delta-from";

// Every option but the two switches takes one value; each may be given once,
// but --delta-from, which `previous` collects.
bool parseOptions(int argc, char** argv, Options& options, std::vector<std::string>& previous) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == deltaFrom && i + 1 < argc) {
            previous.push_back(argv[++i]);
            continue;
        }
        const bool isSwitch = name == allowUnauthenticatedMirrors || name == sameRelease;
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
    const std::size_t signParts =
        options.count("--sign") + options.count("--serial") + options.count("--expires");
    if (signParts != 0 && signParts != 3) return fail("--sign, --serial and --expires go together");
    if (signParts == 0 && options.count("--previous-signature"))
        return fail("--previous-signature goes with --sign");
    if (options.count(sameRelease) && !options.count("--previous-signature"))
        return fail("--same-release needs --previous-signature, the release signed again");
    if (signParts != 0 && !options.count("--output"))
        return fail("--sign needs --output: the signature goes beside the manifest");
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

// Only a signed manifest carries SHA-256s: the signature covers them, and an
// updater with a release key requires them.
bool sha256Of(const Options& options, const std::string& path, std::string& hash) {
    if (!options.count("--sign")) return true;
    hash = fileSha256Hex(path);
    return !hash.empty() || fail("cannot read \"" + path + "\"");
}

bool checkPackage(const std::string& path, const std::string& version) {
    const std::string problem = packageProblem(path, version);
    return problem.empty() || fail(problem);
}

bool checkList(const Options& options) {
    // Signed content is authenticated whatever carries it.
    const std::string problem = listProblem(
        options.at("--list"), options.at("--list-version"),
        options.count(allowUnauthenticatedMirrors) != 0 || options.count("--sign") != 0);
    return problem.empty() || fail(problem);
}

bool gatherListFields(const Options& options, ManifestFields& fields) {
    fields.listVersion = options.at("--list-version");
    fields.listUrl = options.at("--list-url");
    return checkVersion(fields.listVersion) && checkUrl(fields.listUrl) &&
           hashOf(options.at("--list"), fields.listHash) &&
           sha256Of(options, options.at("--list"), fields.listSha256) && checkList(options);
}

// The unpack of the package, the slowest check, comes last.
bool gatherFields(const Options& options, ManifestFields& fields) {
    fields.version = options.at("--version");
    fields.packageUrl = options.at("--url");
    return checkVersion(fields.version) && checkUrl(fields.packageUrl) &&
           hashOf(options.at("--package"), fields.packageHash) &&
           sha256Of(options, options.at("--package"), fields.packageSha256) &&
           (!options.count("--list") || gatherListFields(options, fields)) &&
           checkPackage(options.at("--package"), fields.version);
}

// PACKAGE-from-VERSION.delta beside the package, served beside its URL.
bool addDelta(const std::string& previousPackage, const Options& options, ManifestFields& fields) {
    const std::string package = options.at("--package");
    const std::string stem = package.substr(0, package.rfind('.'));
    const std::string temporary = stem + "-delta.partial";
    DeltaFields delta;
    const std::string problem =
        writePackageDelta(previousPackage, package, temporary, delta.fromVersion);
    if (!problem.empty()) return std::remove(temporary.c_str()), fail(problem);
    if (versionNumber(delta.fromVersion) >= versionNumber(fields.version))
        return std::remove(temporary.c_str()),
               fail("--delta-from \"" + previousPackage + "\" holds version " + delta.fromVersion +
                    ", not one below " + fields.version);
    const std::string path = stem + "-from-" + delta.fromVersion + ".delta";
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        return std::remove(temporary.c_str()), fail("cannot write \"" + path + "\"");
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    delta.url = urlParent(fields.packageUrl) + "/" + name;
    delta.hash = hashFileToHex(path);
    delta.sha256 = fileSha256Hex(path);
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    delta.size = static_cast<unsigned long long>(file.tellg());
    fields.deltas.push_back(delta);
    return true;
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

bool wholeNumber(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoll(text);
    return true;
}

bool readPreviousSignature(const std::string& path, ReleaseSignature& previous) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return (file && parseReleaseSignature(text.str(), previous)) ||
           fail("\"" + path + "\" is no signature file");
}

// The previous signature must verify, with the public half of the --sign key,
// over the new manifest's exact bytes: then the release signed again is, byte
// for byte, the one installations already accepted under that serial.
bool coversSameManifest(const Options& options, const std::string& manifest,
                        const ReleaseSignature& previous) {
    std::string publicKeyHex;
    const std::string problem = releasePublicKey(options.at("--sign"), publicKeyHex);
    if (!problem.empty()) return fail(problem);
    return verifyEd25519(publicKeyHex, releaseMessage(manifest, previous.serial, previous.expires),
                         previous.signatureHex) ||
           fail("--same-release: the manifest is not the one \"" +
                options.at("--previous-signature") + "\" covers (or \"" + options.at("--sign") +
                "\" did not sign it)");
}

// A serial only grows, or updaters that accepted the previous release would
// refuse this one; it stays the same only for the same manifest signed again.
bool checkSerial(const Options& options, const std::string& manifest, unsigned long long serial) {
    if (!options.count("--previous-signature")) {
        note("no --previous-signature: nothing checks serial " + std::to_string(serial) +
             " against an earlier release");
        return true;
    }
    ReleaseSignature previous;
    if (!readPreviousSignature(options.at("--previous-signature"), previous)) return false;
    if (serial < previous.serial || (serial == previous.serial && !options.count(sameRelease)))
        return fail("serial " + std::to_string(serial) +
                    " is not above the previous signature's serial " +
                    std::to_string(previous.serial));
    if (!options.count(sameRelease)) return true;
    // A higher serial would make every mirror still serving the previous
    // signature stale, which signing the same release again must not do.
    if (serial != previous.serial)
        return fail("--same-release signs the previous serial " + std::to_string(previous.serial) +
                    " again, not " + std::to_string(serial));
    return coversSameManifest(options, manifest, previous);
}

// The signature of `manifest`, refused when its serial would not be newer
// than the previous release's (or, with --same-release, not the same release).
bool signatureFor(const Options& options, const std::string& manifest, std::string& signature) {
    long long serial = 0, days = 0;
    if (!wholeNumber(options.at("--serial"), serial))
        return fail("--serial takes a whole number, not \"" + options.at("--serial") + "\"");
    if (!wholeNumber(options.at("--expires"), days) || days < 1 || days > 36500)
        return fail("--expires takes a number of days from 1 to 36500");
    if (!checkSerial(options, manifest, static_cast<unsigned long long>(serial))) return false;
    const std::string problem = signRelease(options.at("--sign"), manifest, serial,
                                            std::time(nullptr) + days * 86400, signature);
    return problem.empty() || fail(problem);
}

int keygen(const std::string& path) {
    const std::string problem = generateReleaseKey(path);
    if (!problem.empty()) return fail(problem), 1;
    std::ifstream publicKey(path + ".pub");
    std::string hex;
    publicKey >> hex;
    std::cout << "private key: " << path << " (keep it off every server)\n"
              << "public key:  " << path << ".pub; build with -DPELORIN_RELEASE_PUBLIC_KEY=" << hex
              << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "keygen") {
        if (argc == 3) return keygen(argv[2]);
        std::cerr << usageText;
        return 2;
    }
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::cout << usageText;
        return 0;
    }
    Options options;
    std::vector<std::string> previous;
    if (!parseOptions(argc, argv, options, previous) || !checkRequired(options)) {
        std::cerr << usageText;
        return 2;
    }
    ManifestFields fields;
    if (!gatherFields(options, fields)) return 1;
    for (const std::string& package : previous)
        if (!addDelta(package, options, fields)) return 1;
    const std::string text = manifestText(fields);
    if (!options.count("--output")) {
        std::cout << text;
        return std::cout.flush() ? 0 : 1;
    }
    std::string signature;
    if (options.count("--sign") && !signatureFor(options, text, signature)) return 1;
    if (!writeFile(options.at("--output"), text)) return 1;
    return signature.empty() || writeFile(options.at("--output") + ".sig", signature) ? 0 : 1;
}
