// A delta written by the publishing tool's writer and applied by the updater:
// the staging tree it rebuilds, and the line for each way it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "core/updater_context.h"
#include "install/delta_apply.h"
#include "install/delta_file.h"
#include "publish/delta_writer.h"
#include "support/installation.h"

namespace fs = std::filesystem;

TEST(DeltaFile, PathsStayBelowTheTree) {
    const std::pair<std::string, bool> cases[] = {{"Application/UpdatePelorin.xml", true},
                                                  {"README.txt", true},
                                                  {"a b/c d", true},
                                                  {"", false},
                                                  {"/etc/passwd", false},
                                                  {"a/../../b", false},
                                                  {"./a", false},
                                                  {"a//b", false},
                                                  {"a/", false},
                                                  {"C:/a", false},
                                                  {"a\\b", false},
                                                  {"a\nb", false},
                                                  {std::string(deltaPathBytes + 1, 'a'), false}};
    for (const auto& [path, allowed] : cases) EXPECT_EQ(deltaPathAllowed(path), allowed) << path;
}

struct DeltaApply : ::testing::Test {
    void SetUp() override {
        std::mt19937 random(7);
        std::string big(9u << 20, '\0');  // three chunks
        for (char& c : big) c = static_cast<char>(random());
        write(oldTree + "/big.bin", big);
        big.insert(1000, "inserted bytes move all that follows");
        big[5u << 20] ^= 1;
        big.replace(9u << 20, 10, "the end...");
        write(newTree + "/big.bin", big);
        for (const std::string& tree : {oldTree, newTree}) {
            write(tree + "/same.txt", "unchanged\n");
            write(tree + "/Application/Pelorin", tree == oldTree ? "echo 1.0\n" : "echo 1.1\n");
        }
        write(oldTree + "/gone.txt", "only in the old release\n");
        write(newTree + "/new/added.txt", "new in this release\n");
        write(newTree + "/empty", "");
        fs::copy(oldTree, installation.rootDir,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        installation.layOutComplete();
        installation.useInThisProcess();
        context = std::make_unique<UpdaterContext>();
        ASSERT_EQ(writeTreeDelta(oldTree, newTree, delta), "");
    }
    void write(const std::string& path, const std::string& bytes) {
        installation.writeFile(path, bytes);
    }
    const TempDir work;
    const std::string oldTree = work.path() + "/old", newTree = work.path() + "/new";
    const std::string delta = work.path() + "/Pelorin.delta";
    Installation installation;
    std::unique_ptr<UpdaterContext> context;
    const std::string staged = installation.updateDir + "/program files/Halvorne/Pelorin";
};

TEST_F(DeltaApply, RebuildsWhatChangedWhereTheUnpackPutsIt) {
    ASSERT_EQ(applyDelta(*context, delta), "");
    std::vector<std::string> stagedFiles;
    for (const auto& entry : fs::recursive_directory_iterator(staged)) {
        if (!entry.is_regular_file()) continue;
        const std::string relative = entry.path().lexically_relative(staged).string();
        stagedFiles.push_back(relative);
        EXPECT_EQ(readFile(entry.path().string()), readFile(newTree + "/" + relative)) << relative;
    }
    std::sort(stagedFiles.begin(), stagedFiles.end());
    const std::vector<std::string> changed = {"Application/Pelorin", "big.bin", "empty",
                                              "new/added.txt"};
    EXPECT_EQ(stagedFiles, changed);  // the unchanged file left out
    EXPECT_NE(fs::status(staged + "/Application/Pelorin").permissions() & fs::perms::owner_exec,
              fs::perms::none);
    EXPECT_LT(fs::file_size(delta), 40000u);  // two small changes and a shift in 9 MiB
}

TEST_F(DeltaApply, EachFailureSaysWhyTheFullPackageIsTaken) {
    const std::string bytes = readFile(delta), tail = ", downloading the full package";
    std::string flipped = bytes;
    flipped[bytes.rfind("\x28\xb5\x2f\xfd") + 20] ^= 1;  // inside the last frame
    const struct {
        std::string deltaBytes, installedChange, line;
    } cases[] = {
        {"PELORIN DELTA 2\n" + bytes.substr(16), "", "Delta update is corrupt"},
        {bytes.substr(0, bytes.size() / 2), "", "Delta update is corrupt"},
        {bytes + "x", "", "Delta update is corrupt"},
        {bytes, "same.txt", "Delta update not applicable to the installed same.txt"},
        {bytes, "big.bin", "Delta update not applicable to the installed big.bin"},
        {flipped, "", "Delta update failed to apply to new/added.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        fs::copy(oldTree, installation.rootDir,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        if (!c.installedChange.empty())
            write(installation.rootDir + "/" + c.installedChange, "changed by the user");
        write(delta, c.deltaBytes);
        EXPECT_EQ(applyDelta(*context, delta), c.line + tail);
        EXPECT_FALSE(fs::exists(staged));  // nothing of it left to install
    }
}
