// A server list file in a temporary folder and an updater context to own its
// list: the context's discovery finds nothing (an empty registry), so its log
// is open in the installation's temporary directory and nothing else runs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/updater_context.h"
#include "serverlist/server_list.h"
#include "support/installation.h"

class ListFixture : public ::testing::Test {
protected:
    void SetUp() override {
        installation.useInThisProcess();
        context = std::make_unique<UpdaterContext>();
        listDir = installation.root.path() + "/Data";
        std::filesystem::create_directories(listDir);
        listPath = listDir + "/ServerList.lst";
    }

    void writeBytes(const std::string& path, const std::string& content) {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << content;
    }

    std::unique_ptr<ServerList> loadList(const std::string& content) {
        writeBytes(listPath, content);
        return std::make_unique<ServerList>(listPath, *context);
    }

    static std::vector<std::string> sorted(std::vector<std::string> texts) {
        std::sort(texts.begin(), texts.end());
        return texts;
    }

    // Marks the log, so that linesSinceMark() gives what was written after.
    void markLog() {
        context->log("[mark]", LogLevel::Info, false);
        context->logStream->flush();
    }

    std::vector<std::string> linesSinceMark() {
        context->logStream->flush();
        std::istringstream log(readFile(installation.logPath()));
        std::vector<std::string> lines;
        bool marked = false;
        for (std::string line; std::getline(log, line);) {
            if (marked) lines.push_back(line);
            if (line == "[mark]") marked = true;
        }
        return lines;
    }

    Installation installation;
    std::unique_ptr<UpdaterContext> context;
    std::string listDir;
    std::string listPath;
};
