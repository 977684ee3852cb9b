#include "e2e/native_target.h"

#include <filesystem>

void NativeTarget::layOut(Installation& installation, const std::string& installedVersion) {
    installation.layOutComplete(installedVersion);
}

std::string NativeTarget::updaterPath(const std::string& nativePath) const {
    return nativePath;
}

UpdaterRun NativeTarget::runUpdater(Installation& installation) {
    return installation.runUpdater();
}

// The updater knows the browser by its executable's file name alone.
std::vector<std::string> NativeTarget::browserCommand(const std::string& scratchDir) {
    const std::string program = scratchDir + "/Pelorin";
    std::filesystem::copy_file("/bin/sleep", program,
                               std::filesystem::copy_options::overwrite_existing);
    return {program, "600"};
}

// Native files are read byte for byte: a CR the updater wrote must show.
std::string NativeTarget::readText(const std::string& nativePath) const {
    return readFile(nativePath);
}
