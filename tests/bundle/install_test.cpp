// The bundle of `cmake --install`: the installed updater registers its task from its definition.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/installation.h"

TEST(Bundle, InstalledUpdaterRegistersItsTaskFromTheInstalledDefinition) {
    Installation installation;
    installation.layOutComplete();
    const std::string bin = installation.rootDir + "/bin";
    const std::string install = "cmake --install '" PELORIN_BINARY_DIR "' --prefix '" +
                                installation.rootDir + "' >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    for (const char* file : {"PelorinAutoUpdate", "BatchLauncher.sh", "PelorinUpdateTask.cron",
                             "pelorin-publish", "pelorin-mirrors"})
        EXPECT_TRUE(std::filesystem::is_regular_file(bin + "/" + file)) << file;
    const std::string cron = readFile(bin + "/PelorinUpdateTask.cron");
    EXPECT_NE(cron.find("'" + bin + "/BatchLauncher.sh' '" + bin + "/PelorinAutoUpdate'"),
              std::string::npos)
        << cron;
    installation.writeFile(
        installation.registryRoot + "/" + installation.hive + "/SOFTWARE/Halvorne/Update/path",
        bin + "/PelorinAutoUpdate");
    installation.runUpdater({"schtask", "install", "admin"}, bin + "/PelorinAutoUpdate");
    EXPECT_EQ(readFile(installation.crontabPath()),
              cron.substr(0, cron.size() - 1) + " # PelorinUpdateTask\n");
}
