#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/installation.h"

// $U/$M: the user's/machine's Halvorne key, $W the user's Wow form, $C the machine's Wow client
// key; $T the test's folder, $I the updater's, $D the data folder, $A the application's.
static std::string expand(std::string text, const Installation& installation) {
    const std::string user = installation.registryRoot + "/HKEY_CURRENT_USER/SOFTWARE/",
                      machine = installation.registryRoot + "/HKEY_LOCAL_MACHINE/SOFTWARE/";
    const std::pair<std::string, std::string> marks[] = {
        {"$U", user + "Halvorne"},
        {"$M", machine + "Halvorne"},
        {"$W", user + "Wow6432Node/Halvorne"},
        {"$C",
         machine + "Wow6432Node/Halvorne/Update/Clients/{5C2F7E91-3A4B-4D8E-9F10-2B6C8D4E7A35}"},
        {"$T", installation.root.path()},
        {"$I", installation.installDir},
        {"$D", installation.dataDir},
        {"$A", installation.applicationDir}};
    for (const auto& [mark, path] : marks)
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, 2, path);
    return text;
}

const std::string user = "User level installation found.\nReading installation information...\n";
const std::string located =
    "Locating installation paths...\nInstallation paths located successfully.\n";
const std::string noData = "Error! Failed to locate Pelorin data path information.\n";
const std::string noInformation =
    "Fatal Error! Failed to locate Pelorin installation information.\n";
const std::string notLocated =
    "Locating installation paths...\nFatal Error! Failed to locate Pelorin installation paths.\n";

// Over a complete installation's files, each row's lines "key/value=text", or a key alone.
TEST(InstallationDiscovery, RegistryLayoutsAndTheirLines) {
    const struct {
        std::string registry;
        std::string lines;  // discovery's
        std::string made;   // exists after the run
    } cases[] = {
        // The current user's hive wins, with its own Data key.
        {"$U/Update/path=$I/PelorinAutoUpdate\n$U/Data/path=$D\n$M/Update/path=/no/Update/x\n"
         "$M/Data/path=$I",
         user + located, "$D/ServerList.lst"},
        // The client key in its Wow form switches both hives to that form.
        {"$U/Update/path=$I/PelorinAutoUpdate\n$C",
         "System level installation found.\nReading installation information...\n" + noInformation,
         ""},
        {"$W/Update/path=$I/PelorinAutoUpdate\n$C", user + noData + located, "$I/ServerList.lst"},
        {"", "Reading installation information...\n" + noInformation, ""},
        // The value and its terminator must fit 260 bytes.
        {"$U/Update/path=/" + std::string(259, 'x'), user + noInformation, ""},
        // Without a Data value the data folder is the updater's; only its parent is made.
        {"$U/Update/path=$T/Gone/Pelorin/Update/PelorinAutoUpdate",
         user + noData + notLocated + "Fatal Error! Failed to create Pelorin data path.\n", ""},
        {"$U/Update/path=$T/Gone/Update/PelorinAutoUpdate",
         user + noData + notLocated + "Fatal Error! Certificate file missing, aborting.\n",
         "$T/Gone"},
        {"$U/Update/path=$I/PelorinAutoUpdate\n$U/Data/path=$D\n$A/PelorinCert.pem",
         user + located + "Fatal Error! Certificate file missing, aborting.\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.registry);
        Installation installation;
        installation.layOutComplete();
        std::filesystem::remove_all(installation.registryRoot);
        std::stringstream registry(expand(c.registry, installation));
        for (std::string line; std::getline(registry, line);) {
            const std::size_t equals = line.find('=');
            std::filesystem::remove(line.substr(0, equals));  // a key may take a file's place
            if (equals == std::string::npos) std::filesystem::create_directories(line);
            if (equals != std::string::npos)
                installation.writeFile(line.substr(0, equals), line.substr(equals + 1));
        }
        const std::string log = installation.runUpdater({"probe"}).log;
        EXPECT_EQ(log.substr(log.find("Locating installation type")),
                  "Locating installation type...\n" + c.lines +
                      "Error! Command \"probe\" is invalid.\nCleaning temporary files...\n"
                      "Temporary files cleaned up successfully.\n");
        EXPECT_TRUE(c.made.empty() || std::filesystem::exists(expand(c.made, installation)));
    }
}
