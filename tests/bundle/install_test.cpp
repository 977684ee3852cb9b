// The bundle as a browser's installer gets it from `cmake --install`: the
// updater, its launcher, its task definition and the release tools; the
// installed updater then registers its task from that definition.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/installation.h"

TEST(Bundle, InstalledUpdaterRegistersItsTaskFromTheInstalledDefinition) {
    Installation installation;
    installation.layOutComplete();
    const std::string bin = installation.rootDir + "/bin";
    ASSERT_EQ(std::system(("cmake --install '" PELORIN_BINARY_DIR "' --prefix '" +
                           installation.rootDir + "' >/dev/null")
                              .c_str()),
              0);
    for (const char* file : {"PelorinAutoUpdate", "BatchLauncher.sh", "PelorinUpdateTask.cron",
                             "pelorin-publish", "pelorin-mirrors"})
        EXPECT_TRUE(std::filesystem::is_regular_file(bin + "/" + file)) << file;
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
