// The native build: the registry stand-in, POSIX paths, "\n" line ends.
// Runs with volumes or shorter time-outs go through pelorin_conditioned_run.
#pragma once

#include "e2e/updater_target.h"

class NativeTarget : public UpdaterTarget {
public:
    void layOut(Installation& installation, const std::string& installedVersion) override;
    std::string updaterPath(const std::string& nativePath) const override;
    UpdaterRun runUpdater(Installation& installation) override;
    UpdaterRun runUnder(Installation& installation, const RunConditions& conditions) override;
    std::vector<std::string> browserCommand(const std::string& scratchDir) override;
    std::string readText(const std::string& nativePath) const override;
};
