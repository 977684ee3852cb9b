#include "platform/posix/posix_commands.h"

namespace {

// Quotes `text` as one shell word.
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

// Unpacks the package into `targetDir` so that it holds a copy of the package
// and the tree "program files/Halvorne/Pelorin", as the administrative
// unpack does on Windows.
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

// `name` as a find(1) pattern that matches only itself.
std::string literalPattern(const std::string& name) {
    std::string pattern;
    for (char c : name) {
        if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern;
}

// Removes the tree at `path` and every sibling whose name differs from its
// last piece only in letter case.
std::string removeTree(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return "find " + shellQuote(parent) + " -mindepth 1 -maxdepth 1 -iname " +
           shellQuote(literalPattern(name)) + " -exec rm -rf {} + >/dev/null 2>&1";
}

// Copies the unpacked tree over the installation and removes the staging tree
// only after the copy succeeded.
std::string copyAndClean(const std::string& unpackedTree, const std::string& destinationDir,
                         const std::string& stagingTree) {
    const std::string destination = shellQuote(destinationDir);
    // "/." copies the tree's contents, dot-files included, into a destination
    // that may already exist.
    return "{ mkdir -p " + destination + " && cp -R " + shellQuote(unpackedTree + "/.") + " " +
           destination + " && rm -rf " + shellQuote(stagingTree) + "; } >/dev/null 2>&1";
}

// ---- The scheduled task ----
// The administrative form goes into root's crontab (it needs root, as the
// System account needs an administrator); the other into the crontab of the
// user who registers it. Every command reads the table first and, when it
// cannot be read (other than "no crontab for USER"), ends with a non-zero
// status and leaves it as it is.

const std::string taskEntry = "-e '# PelorinUpdateTask$'";

std::string crontab(bool administrative) {
    return administrative ? "crontab -u root" : "crontab";
}

// Puts the table in $t, or ends the command with status 1: a table that could
// not be read must not be written back without the entries it holds. Only
// "no crontab for USER" means an empty table.
std::string readTable(bool administrative) {
    const std::string list = crontab(administrative) + " -l";
    return "t=$(" + list + " 2>/dev/null) || { " + list +
           " 2>&1 >/dev/null | grep -q '^no crontab for ' && t=; } || exit 1; ";
}

// Writes the table's other entries and then `entries` (a command that prints
// them), and succeeds only when the table then holds the task's entry.
std::string writeTableWith(const std::string& entries, bool administrative) {
    return "{ [ -z \"$t\" ] || printf '%s\\n' \"$t\" | grep -v " + taskEntry + "; " + entries +
           "; } | " + crontab(administrative) + " - && " + crontab(administrative) +
           " -l 2>/dev/null | grep -q " + taskEntry;
}

// cron turns every '%' not escaped with a backslash into a line end, and
// drops the backslash of an escaped one.
std::string cronEscape(const std::string& command) {
    std::string escaped;
    for (char c : command) {
        if (c == '%') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// Removes the tagged entry; non-zero status when there is none.
std::string deleteTask() {
    return readTable(false) + "printf '%s\\n' \"$t\" | grep -q " + taskEntry +
           " || exit 1; printf '%s\\n' \"$t\" | grep -v " + taskEntry + " | crontab -";
}

// Installs the definition file's lines, tagged, into root's crontab. A
// definition that cannot be read or holds no line installs nothing and fails.
// Both create commands end with a non-zero status unless the table afterwards
// holds the tagged entry.
std::string createTaskFromDefinition(const std::string& definitionPath) {
    return readTable(true) + "d=$(sed -e '/^[[:space:]]*$/d' -e 's/$/ # PelorinUpdateTask/' " +
           shellQuote(definitionPath) + ") && [ -n \"$d\" ] || exit 1; " +
           writeTableWith("printf '%s\\n' \"$d\"", true);
}

// An entry every `everyHoursText` hours: /bin/sh LAUNCHER UPDATER.
std::string createRepeatingTask(const std::string& everyHoursText,
                                const std::string& launcherScriptPath,
                                const std::string& updaterExePath, bool administrative) {
    const std::string entry =
        "0 */" + everyHoursText + " * * * " +
        cronEscape("/bin/sh " + shellQuote(launcherScriptPath) + " " + shellQuote(updaterExePath)) +
        " # PelorinUpdateTask";
    return readTable(administrative) +
           writeTableWith("printf '%s\\n' " + shellQuote(entry), administrative);
}

}  // namespace

namespace platform {

// constexpr: the compiler fills the table in, so it is whole before any
// constructor of a static object runs.
constexpr CommandBuilders posixCommands = {
    adminUnpack,        removeTree, copyAndClean, deleteTask, createTaskFromDefinition,
    createRepeatingTask};

}  // namespace platform
