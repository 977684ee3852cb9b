// Finds the browser's installation through the registry and derives every
// path of the run from it.
#include "app/installation_discovery.h"

#include <exception>

#include "core/path_utils.h"
#include "core/updater_context.h"
#include "platform/platform.h"

using platform::Hive;

void chooseKeyForm(UpdaterContext& context) {
    if (platform::registryKeyExists(Hive::LocalMachine, context.clientKeyPath)) return;
    context.clientKeyPath =
        "SOFTWARE\\Halvorne\\Update\\Clients\\{5C2F7E91-3A4B-4D8E-9F10-2B6C8D4E7A35}";
    context.updateKeyPath = "SOFTWARE\\Halvorne\\Update";
    context.dataKeyPath = "SOFTWARE\\Halvorne\\Data";
}

namespace {

// The hive holding the installation, the current user's first; false when
// neither holds it.
bool findInstallationHive(UpdaterContext& context, Hive& hive) {
    if (platform::registryKeyExists(Hive::CurrentUser, context.updateKeyPath)) {
        context.log("User level installation found", LogLevel::Default, true);
        hive = Hive::CurrentUser;
        return true;
    }
    if (platform::registryKeyExists(Hive::LocalMachine, context.updateKeyPath)) {
        context.log("System level installation found", LogLevel::Default, true);
        hive = Hive::LocalMachine;
        return true;
    }
    return false;
}

// The Data key's directory, when it names one that exists.
bool readDataDirectory(UpdaterContext& context, Hive hive) {
    std::string dataPath;
    if (!platform::readRegistryString(hive, context.dataKeyPath, "path", dataPath)) {
        context.log("Failed to locate Pelorin data path information", LogLevel::Error, true);
        return false;
    }
    if (!directoryExists(dataPath)) return false;
    context.dataDir = dataPath;
    return true;
}

void derivePaths(UpdaterContext& context, const std::string& installValue, bool dataPathFound) {
    context.installDir = parentPath(installValue);
    context.rootDir = parentPath(context.installDir);
    context.applicationDir = joinPath(context.rootDir, "Application");
    context.updateDir = joinPath(parentPath(context.rootDir), "Update");
    if (!dataPathFound) context.dataDir = context.installDir;
}

bool ensureDataDirectory(const std::string& dataDir) {
    const std::string parent = parentPath(dataDir);
    return directoryExists(parent) || makeDirectory(parent) || makeDirectory(dataDir);
}

}  // namespace

void locateInstallation(UpdaterContext& context) {
    context.log("Locating installation type..", LogLevel::Default, true);
    Hive hive = Hive::CurrentUser;
    const bool hiveFound = findInstallationHive(context, hive);
    context.log("Reading installation information..", LogLevel::Default, true);
    std::string installValue;
    if (!hiveFound ||
        !platform::readRegistryString(hive, context.updateKeyPath, "path", installValue)) {
        context.state = LogLevel::Fatal;
        context.log("Failed to locate Pelorin installation information", LogLevel::Default, true);
        return;
    }
    const bool dataPathFound = readDataDirectory(context, hive);
    try {
        context.log("Locating installation paths..", LogLevel::Default, true);
        derivePaths(context, installValue, dataPathFound);
        const bool located = directoryExists(context.installDir) &&
                             (!dataPathFound || directoryExists(context.rootDir));
        if (located) {
            context.log("Installation paths located successfully", LogLevel::Default, true);
        } else {
            context.state = LogLevel::Fatal;
            context.log("Failed to locate Pelorin installation paths", LogLevel::Default, true);
        }
    } catch (const std::exception&) {
        context.state = LogLevel::Fatal;
        context.log("Failed to locate Pelorin installation paths", LogLevel::Default, true);
    }
    if (!ensureDataDirectory(context.dataDir)) {
        context.log("Failed to create Pelorin data path", LogLevel::Fatal, true);
        context.state = LogLevel::Fatal;
        return;
    }
    context.caBundlePath = joinPath(context.applicationDir, "PelorinCert.pem");
    // A folder or device of that name would only make every transfer fail
    // with a TLS error nobody can read from the log.
    if (!platform::fileStatus(context.caBundlePath).isRegularFile) {
        context.state = LogLevel::Fatal;
        context.log("Certificate file missing, aborting", LogLevel::Default, true);
    }
    context.launcherScriptPath = joinPath(context.installDir, platform::launcherScriptName);
    context.updaterExePath = joinPath(context.installDir, platform::updaterExecutableName);
}
