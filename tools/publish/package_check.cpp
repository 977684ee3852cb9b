#include "publish/package_check.h"

#include <cstring>
#include <fstream>

#include "common/work_folder.h"
#include "core/path_utils.h"
#include "core/release_paths.h"
#include "platform/platform.h"
#include "update/version_decision.h"
#include "update/xml_value.h"

namespace {

// Only chooses the words of a refusal: every installer package is a compound
// file, which begins with these eight bytes.
bool beginsAsInstallerPackage(const std::string& path) {
    char head[8] = {};
    std::ifstream file(path, std::ios::binary);
    file.read(head, sizeof head);
    return file && std::memcmp(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", sizeof head) == 0;
}

std::string unpackProblem(const std::string& packagePath, int status) {
    const std::string failed = "does not unpack (status " + std::to_string(status) + ")";
    if (!beginsAsInstallerPackage(packagePath)) {
        return "the package is no installer package: it " + failed;
    }
    return "the package " + failed + ": it is cut or damaged";
}

// The unpacked tree's version file against the offered version.
std::string versionFileProblem(const std::string& programTree, const std::string& version) {
    const std::string versionFile =
        joinPath(joinPath(programTree, "Application"), "UpdatePelorin.xml");
    if (!fileExists(versionFile)) {
        return "the package holds no Application/UpdatePelorin.xml in its program tree: every "
               "installation would read version 0 and be offered the package on every run";
    }
    const std::string installed = readXmlValue(versionFile, "Version");
    if (versionNumber(installed) == versionNumber(version)) return std::string();
    const std::string says = installed.empty() ? "no version" : "version " + installed;
    const std::string consequence =
        versionNumber(installed) < versionNumber(version)
            ? "every installation would be offered the package again on every run"
            : "every installation would say " + installed + " and skip every release up to it";
    return "the package's Application/UpdatePelorin.xml says " + says + ", but --version is " +
           version + ": " + consequence;
}

}  // namespace

std::string unpackProgramTree(const std::string& packagePath, const std::string& folder,
                              std::string& programTree) {
    if (folder.empty()) return "no temporary folder to unpack the package into";
    const std::string stagingDir = joinPath(folder, "Update");
    const int status =
        platform::runCommand(platform::commands.adminUnpack(packagePath, stagingDir));
    if (status != 0) return unpackProblem(packagePath, status);
    // Found as the updater finds it: the unpack writes the folders in their
    // authored letter case.
    const std::string stagingTree = platform::pathIgnoringCase(stagingTreePath(stagingDir));
    programTree = platform::pathIgnoringCase(unpackedTreePath(stagingTree));
    if (!directoryExists(programTree)) {
        return "the package holds no program files/Halvorne/Pelorin tree, the one the updater "
               "copies over the installation";
    }
    return std::string();
}

std::string packageProblem(const std::string& packagePath, const std::string& version) {
    WorkFolder folder("pelorin-publish-");
    std::string programTree;
    const std::string problem = unpackProgramTree(packagePath, folder.path(), programTree);
    return problem.empty() ? versionFileProblem(programTree, version) : problem;
}
