// The bundle as a browser's installer gets it: `cmake --install` into a prefix
// of the test's own, and the CPack archive, hold the updater, its launcher,
// its task definition and the release tools; the installed updater then
// registers its task from that definition.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/installation.h"

namespace {

const char* const bundleFiles[] = {"bin/PelorinAutoUpdate", "bin/BatchLauncher.sh",
                                   "bin/PelorinUpdateTask.cron", "bin/pelorin-publish",
                                   "bin/pelorin-mirrors"};

int run(const std::string& command) {
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str());
}

}  // namespace

TEST(Bundle, InstalledUpdaterRegistersItsTaskFromTheInstalledDefinition) {
    Installation installation;
    installation.layOutComplete();
    const std::string bin = installation.rootDir + "/bin";
    ASSERT_EQ(
        run("cmake --install '" PELORIN_BINARY_DIR "' --prefix '" + installation.rootDir + "'"), 0);
    for (const char* file : bundleFiles)
        EXPECT_TRUE(std::filesystem::is_regular_file(installation.rootDir + "/" + file)) << file;
    const std::string cron = readFile(bin + "/PelorinUpdateTask.cron");
    EXPECT_NE(cron.find("'" + bin + "/BatchLauncher.sh' '" + bin + "/PelorinAutoUpdate'"),
              std::string::npos)
        << cron;
    installation.writeFile(
        installation.registryRoot + "/HKEY_CURRENT_USER/SOFTWARE/Halvorne/Update/path",
        bin + "/PelorinAutoUpdate");
    installation.runUpdater({"schtask", "install", "admin"}, bin + "/PelorinAutoUpdate");
    EXPECT_EQ(readFile(installation.crontabPath()),
              cron.substr(0, cron.size() - 1) + " # PelorinUpdateTask\n");
}

TEST(Bundle, ArchiveHoldsTheSameFiles) {
    const TempDir packages;
    const std::string listing = packages.path() + "/listing.txt";
    ASSERT_EQ(run("cd '" + packages.path() +
                  "' && cpack --config '" PELORIN_BINARY_DIR
                  "/CPackConfig.cmake' -B . && tar -tzf PelorinAutoUpdate-*.tar.gz >listing.txt"),
              0);
    const std::string names = readFile(listing);
    for (const char* file : bundleFiles)
        EXPECT_NE(names.find(std::string("/") + file + "\n"), std::string::npos) << file;
}
