#include "platform/posix/posix_commands.h"

namespace posix_commands {

std::string shellQuote(const std::string& text) {
    // Inside single quotes the shell takes every byte literally except the
    // quote itself, which is closed, escaped and reopened.
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += "'";
    return quoted;
}

std::string adminUnpack(const std::string& packagePath, const std::string& targetDir) {
    const std::string package = shellQuote(packagePath);
    const std::string target = shellQuote(targetDir);
    const std::string copy = shellQuote(targetDir + "/Pelorin.msi");
    // msiextract exits with 0 on a package it cannot open, so msiinfo has to
    // open the database first. The copy of the package comes last: the updater
    // takes its appearance as the sign that the unpack is complete. A hard link
    // is enough for that and spares copying the package; both go at exit.
    // msiextract writes no file executable; the programs of the release must
    // be, as every program is on Windows, even where no installed one is left
    // to lend its mode to the copy.
    const std::string makeProgramsExecutable =
        "find " + target +
        " -type f \\( -name PelorinAutoUpdate -o -name Pelorin \\) -exec chmod a+x {} +";
    return "{ mkdir -p " + target + " && msiinfo tables " + package + " && msiextract -C " +
           target + " " + package + " && " + makeProgramsExecutable + " && { ln -f " + package +
           " " + copy + " || cp " + package + " " + copy + "; }; } >/dev/null 2>&1";
}

namespace {

// `name` as a find(1) pattern that matches only itself.
std::string literalPattern(const std::string& name) {
    std::string pattern;
    for (char c : name) {
        if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern;
}

}  // namespace

std::string removeTree(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return "find " + shellQuote(parent) + " -mindepth 1 -maxdepth 1 -iname " +
           shellQuote(literalPattern(name)) + " -exec rm -rf {} + >/dev/null 2>&1";
}

std::string copyAndClean(const std::string& unpackedTree, const std::string& destinationDir,
                         const std::string& stagingTree) {
    const std::string destination = shellQuote(destinationDir);
    // "/." copies the tree's contents, dot-files included, into a destination
    // that may already exist.
    return "{ mkdir -p " + destination + " && cp -R " + shellQuote(unpackedTree + "/.") + " " +
           destination + " && rm -rf " + shellQuote(stagingTree) + "; } >/dev/null 2>&1";
}

}  // namespace posix_commands
