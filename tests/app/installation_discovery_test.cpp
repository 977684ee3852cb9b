#include <gtest/gtest.h>

#include <filesystem>

#include "support/installation.h"

namespace {

// In paths: $T the test's folder, $I the updater's folder, $D the data folder.
std::string expand(std::string text, const Installation& installation) {
    for (const auto& [mark, path] :
         {std::pair<std::string, std::string>{"$T", installation.root.path()},
          {"$I", installation.installDir},
          {"$D", installation.dataDir},
          {"$A", installation.applicationDir}}) {
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, 2, path);
    }
    return text;
}

const std::string userKey = "HKEY_CURRENT_USER/SOFTWARE/Halvorne/";
const std::string machineKey = "HKEY_LOCAL_MACHINE/SOFTWARE/Halvorne/";
const std::string userWowKey = "HKEY_CURRENT_USER/SOFTWARE/Wow6432Node/Halvorne/";
const std::string clientKey =
    "HKEY_LOCAL_MACHINE/SOFTWARE/Wow6432Node/Halvorne/Update/Clients/"
    "{5C2F7E91-3A4B-4D8E-9F10-2B6C8D4E7A35}/";
const std::string located =
    "Locating installation paths...\nInstallation paths located successfully.\n";

}  // namespace

// Over the files of a complete installation, the registry as each row has it;
// a value path ending in '/' is a key without values.
TEST(InstallationDiscovery, RegistryLayoutsAndTheirLines) {
    const struct {
        std::vector<std::pair<std::string, std::string>> registry;
        std::string folder;  // made a folder (in place of a file) before the run
        std::string lines;   // discovery's
        std::string made;    // exists after the run
    } cases[] = {
        {{{userKey + "Update/path", "$I/PelorinAutoUpdate"}, {userKey + "Data/path", "$D"}},
         "",
         "User level installation found.\nReading installation information...\n" + located,
         "$D/ServerList.lst"},
        // The current user's hive wins, with its own Data key.
        {{{userKey + "Update/path", "$I/PelorinAutoUpdate"},
          {userKey + "Data/path", "$D"},
          {machineKey + "Update/path", "/nowhere/Update/PelorinAutoUpdate"},
          {machineKey + "Data/path", "$I"}},
         "",
         "User level installation found.\nReading installation information...\n" + located,
         "$D/ServerList.lst"},
        {{{machineKey + "Update/path", "$I/PelorinAutoUpdate"}, {machineKey + "Data/path", "$D"}},
         "",
         "System level installation found.\nReading installation information...\n" + located,
         "$D/ServerList.lst"},
        // The client key in its Wow form switches both hives to that form.
        {{{userKey + "Update/path", "$I/PelorinAutoUpdate"}, {clientKey, ""}},
         "",
         "System level installation found.\nReading installation information...\n"
         "Fatal Error! Failed to locate Pelorin installation information.\n",
         ""},
        {{{userWowKey + "Update/path", "$I/PelorinAutoUpdate"}, {clientKey, ""}},
         "",
         "User level installation found.\nReading installation information...\n"
         "Error! Failed to locate Pelorin data path information.\n" +
             located,
         "$I/ServerList.lst"},
        {{},
         "",
         "Reading installation information...\n"
         "Fatal Error! Failed to locate Pelorin installation information.\n",
         ""},
        // The value and its terminator must fit 260 bytes.
        {{{userKey + "Update/path", "/" + std::string(259, 'x')}},
         "",
         "User level installation found.\nReading installation information...\n"
         "Fatal Error! Failed to locate Pelorin installation information.\n",
         ""},
        // Without a Data value the data folder is the updater's folder; only
        // its parent is made, no further levels.
        {{{userKey + "Update/path", "$T/Gone/Pelorin/Update/PelorinAutoUpdate"}},
         "",
         "User level installation found.\nReading installation information...\n"
         "Error! Failed to locate Pelorin data path information.\n"
         "Locating installation paths...\nFatal Error! Failed to locate Pelorin installation "
         "paths.\nFatal Error! Failed to create Pelorin data path.\n",
         ""},
        {{{userKey + "Update/path", "$T/Gone/Update/PelorinAutoUpdate"}},
         "",
         "User level installation found.\nReading installation information...\n"
         "Error! Failed to locate Pelorin data path information.\n"
         "Locating installation paths...\nFatal Error! Failed to locate Pelorin installation "
         "paths.\nFatal Error! Certificate file missing, aborting.\n",
         "$T/Gone"},
        {{{userKey + "Update/path", "$I/PelorinAutoUpdate"}, {userKey + "Data/path", "$D"}},
         "$A/PelorinCert.pem",
         "User level installation found.\nReading installation information...\n" + located +
             "Fatal Error! Certificate file missing, aborting.\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        Installation installation;
        installation.layOutComplete();
        std::filesystem::remove_all(installation.registryRoot);
        for (const auto& [value, text] : c.registry) {
            const std::string path = installation.registryRoot + "/" + value;
            if (path.back() == '/')
                std::filesystem::create_directories(path);
            else
                installation.writeFile(path, expand(text, installation));
        }
        if (!c.folder.empty()) {
            std::filesystem::remove(expand(c.folder, installation));
            std::filesystem::create_directory(expand(c.folder, installation));
        }
        std::string lines;
        for (const std::string& line :
             Installation::bodyLines(installation.runUpdater({"probe"}).log))
            lines += line + "\n";
        EXPECT_EQ(lines, "Locating installation type...\n" + c.lines +
                             "Error! Command \"probe\" is invalid.\nCleaning temporary files...\n"
                             "Temporary files cleaned up successfully.\n");
        EXPECT_TRUE(c.made.empty() || std::filesystem::exists(expand(c.made, installation)));
    }
}
