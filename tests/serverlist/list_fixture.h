// A list file in a temporary installation and an updater context to own its
// list: discovery finds nothing, so the log is open and nothing else runs.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "app/updater_context.h"
#include "serverlist/server_list.h"
#include "support/installation.h"

using Lines = std::vector<std::string>;
using Urls = std::vector<std::string>;

class ListFixture : public ::testing::Test {
protected:
    void SetUp() override {
        installation.useInThisProcess();
        context = std::make_unique<UpdaterContext>();
        std::filesystem::create_directories(listDir);
    }
    // The next test's folders go to the system's folder, not into this one's.
    void TearDown() override { ::unsetenv("TMPDIR"); }

    // The log's lines from byte `start` on.
    Lines logLinesFrom(std::size_t start) const {
        context->logStream->flush();
        std::istringstream log(readFile(installation.logPath()).substr(start));
        Lines lines;
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        return lines;
    }

    Installation installation;
    std::unique_ptr<UpdaterContext> context;
    const std::string listDir = installation.root.path() + "/Data";
    const std::string listPath = listDir + "/ServerList.lst";
};
