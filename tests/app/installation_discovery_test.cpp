#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/updater_context.h"
#include "serverlist/server_list.h"
#include "support/installation.h"

namespace {

using Lines = std::vector<std::string>;

const Lines locatedLines = {"Locating installation type...", "User level installation found.",
                            "Reading installation information...", "Locating installation paths...",
                            "Installation paths located successfully."};
const Lines probeAndCleanUp = {"Error! Command \"probe\" is invalid.",
                               "Cleaning temporary files...",
                               "Temporary files cleaned up successfully."};

Lines concat(Lines first, const Lines& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// An invalid command shows discovery's lines without starting an update run.
Lines probeLines(Installation& installation) {
    return Installation::bodyLines(installation.runUpdater({"probe"}).log);
}

}  // namespace

TEST(InstallationDiscovery, UserLevelInstallationWritesFiveLinesAndCreatesTheServerList) {
    Installation installation;
    installation.layOutComplete();
    EXPECT_EQ(probeLines(installation), concat(locatedLines, probeAndCleanUp));
    EXPECT_TRUE(std::filesystem::exists(installation.dataDir + "/ServerList.lst"));
}

TEST(InstallationDiscovery, CurrentUserHiveWinsAndItsDataKeyIsRead) {
    Installation installation;
    installation.layOutComplete();
    installation.setRegistryValue("HKEY_LOCAL_MACHINE", "SOFTWARE\\Halvorne\\Update", "path",
                                  "/nowhere/Update/PelorinAutoUpdate");
    installation.setRegistryValue("HKEY_LOCAL_MACHINE", "SOFTWARE\\Halvorne\\Data", "path",
                                  installation.installDir);
    EXPECT_EQ(probeLines(installation)[1], "User level installation found.");
    EXPECT_TRUE(std::filesystem::exists(installation.dataDir + "/ServerList.lst"));
    EXPECT_FALSE(std::filesystem::exists(installation.installDir + "/ServerList.lst"));
}

TEST(InstallationDiscovery, SystemLevelInstallationIsFoundInTheMachineHive) {
    Installation installation(Installation::Level::System);
    installation.layOutComplete();
    EXPECT_EQ(probeLines(installation)[1], "System level installation found.");
}

TEST(InstallationDiscovery, ClientKeyInWowFormSwitchesBothHivesToThatForm) {
    Installation installation;
    installation.layOutComplete();
    installation.createRegistryKey(
        "HKEY_LOCAL_MACHINE",
        "SOFTWARE\\Wow6432Node\\Halvorne\\Update\\Clients\\{5C2F7E91-3A4B-4D8E-9F10-2B6C8D4E7A35}");
    // The client key lies below the machine's update key, which holds no
    // path; the plain-form keys are never read now.
    const Lines before = probeLines(installation);
    EXPECT_EQ(before[1], "System level installation found.");
    EXPECT_EQ(before[3], "Fatal Error! Failed to locate Pelorin installation information.");
    installation.setRegistryValue("HKEY_CURRENT_USER", "SOFTWARE\\Wow6432Node\\Halvorne\\Update",
                                  "path", installation.installDir + "/PelorinAutoUpdate");
    const Lines lines = probeLines(installation);
    EXPECT_EQ(lines[1], "User level installation found.");
    EXPECT_EQ(lines[3], "Error! Failed to locate Pelorin data path information.");
}

TEST(InstallationDiscovery, MissingDataValueIsAnErrorButTheInstallationDirectoryServes) {
    Installation installation;
    installation.layOutComplete();
    std::filesystem::remove(installation.registryRoot +
                            "/HKEY_CURRENT_USER/SOFTWARE/Halvorne/Data/path");
    Lines expected = locatedLines;
    expected.insert(expected.begin() + 3, "Error! Failed to locate Pelorin data path information.");
    EXPECT_EQ(probeLines(installation), concat(expected, probeAndCleanUp));
    EXPECT_TRUE(std::filesystem::exists(installation.installDir + "/ServerList.lst"));
}

TEST(InstallationDiscovery, NoInstallationIsFatalAndTheCleanUpStillClosesTheLog) {
    Installation installation;
    const Lines expected = {"Locating installation type...", "Reading installation information...",
                            "Fatal Error! Failed to locate Pelorin installation information."};
    EXPECT_EQ(probeLines(installation), concat(expected, probeAndCleanUp));
}

TEST(InstallationDiscovery, ValueLongerThanTheRegistryBufferIsNotRead) {
    Installation installation;
    installation.layOutComplete();
    installation.setRegistryValue(installation.hive, "SOFTWARE\\Halvorne\\Update", "path",
                                  "/" + std::string(259, 'x'));
    EXPECT_EQ(probeLines(installation)[3],
              "Fatal Error! Failed to locate Pelorin installation information.");
}

TEST(InstallationDiscovery, MissingBundleIsFatalYetLeavesTheTaskPathsSet) {
    Installation installation;
    installation.layOutComplete();
    std::filesystem::remove(installation.applicationDir + "/PelorinCert.pem");
    installation.useInThisProcess();
    UpdaterContext context;
    EXPECT_EQ(context.state, LogLevel::Fatal);
    EXPECT_EQ(context.serverList, nullptr);
    EXPECT_EQ(context.updaterExePath, installation.installDir + "/PelorinAutoUpdate");
    EXPECT_EQ(context.launcherScriptPath, installation.installDir + "/BatchLauncher.sh");
    context.logStream->flush();
    const Lines lines = Installation::bodyLines(readFile(installation.logPath()));
    EXPECT_EQ(lines.back(), "Fatal Error! Certificate file missing, aborting.");
}

TEST(InstallationDiscovery, PathsAreDerivedFromTheUpdaterPath) {
    Installation installation;
    installation.layOutComplete();
    installation.useInThisProcess();
    UpdaterContext context;
    EXPECT_EQ(context.state, LogLevel::Info);
    EXPECT_EQ(context.installDir, installation.installDir);
    EXPECT_EQ(context.rootDir, installation.rootDir);
    EXPECT_EQ(context.applicationDir, installation.applicationDir);
    EXPECT_EQ(context.updateDir, installation.updateDir);
    EXPECT_EQ(context.dataDir, installation.dataDir);
    EXPECT_EQ(context.caBundlePath, installation.applicationDir + "/PelorinCert.pem");
    EXPECT_EQ(context.serverList->caBundlePath, context.caBundlePath);
}

TEST(InstallationDiscovery, MissingInstallationDirectoryIsFatalAndOnlyOneLevelIsCreated) {
    Installation installation;
    installation.layOutComplete();
    const std::string missingRoot = installation.root.path() + "/Gone/Pelorin";
    installation.setRegistryValue(installation.hive, "SOFTWARE\\Halvorne\\Update", "path",
                                  missingRoot + "/Update/PelorinAutoUpdate");
    std::filesystem::remove(installation.registryRoot +
                            "/HKEY_CURRENT_USER/SOFTWARE/Halvorne/Data/path");
    const Lines lines = probeLines(installation);
    EXPECT_EQ(lines[5], "Fatal Error! Failed to locate Pelorin installation paths.");
    // The data directory falls back to the missing installDir, two levels down.
    EXPECT_EQ(lines[6], "Fatal Error! Failed to create Pelorin data path.");
    EXPECT_FALSE(std::filesystem::exists(missingRoot));
    std::filesystem::create_directory(installation.root.path() + "/Gone");
    EXPECT_EQ(probeLines(installation)[6], "Fatal Error! Certificate file missing, aborting.");
    EXPECT_TRUE(std::filesystem::is_directory(missingRoot));
}

TEST(InstallationDiscovery, BundleThatIsAFolderCountsAsMissing) {
    Installation installation;
    installation.layOutComplete();
    const std::string bundle = installation.applicationDir + "/PelorinCert.pem";
    std::filesystem::remove(bundle);
    std::filesystem::create_directory(bundle);
    const Lines lines = probeLines(installation);
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "Fatal Error! Certificate file missing, aborting."),
        lines.end());
}
