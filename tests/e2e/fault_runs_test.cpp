// Faults that take many whole runs to show, each run checked from outside
// (exit code, log, files): SIGKILLs during server list refreshes, two updaters
// started together, a soak against a server that answers at random. The
// counts are short here;
// PELORIN_KILL_RUNS, PELORIN_SOAK_RUNS and PELORIN_SOAK_SEED set others
// (tools/fault_runs.sh runs long ones).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "e2e/child_process.h"
#include "e2e/log_match.h"
#include "e2e/sample_packages.h"
#include "e2e/scenario_runner.h"
#include "serverlist/list_lines.h"
#include "support/test_server.h"
#include "transfer/file_hash.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;
using Tally = std::map<std::string, int>;
using Tree = std::map<std::string, std::string>;  // relative path -> content

namespace {

int fromEnvironment(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// The header first, the clean-up's two lines last, no line cut.
bool logIsComplete(const std::string& log) {
    const std::vector<std::string> lines = linesOf(log);
    return lines.size() >= 6 && log.back() == '\n' &&
           lines[0] == "*************** PelorinAutoUpdate [2.5] **************" &&
           lines[1].empty() && lineMatches("Started at: <any>.", lines[2]) &&
           lines[lines.size() - 2] == "Cleaning temporary files..." &&
           lines.back() == "Temporary files cleaned up successfully.";
}

// How a complete run ended: the line before the elapsed time.
std::string outcomeOf(const std::string& log) {
    const std::vector<std::string> lines = linesOf(log);
    return lines.size() >= 4 ? lines[lines.size() - 4] : "(no log)";
}

void print(const std::string& title, const Tally& tally) {
    std::cout << title << "\n";
    for (const auto& [what, count] : tally) std::cout << "  " << count << "  " << what << "\n";
}

void layOut(Installation& installation) {
    installation.layOutComplete();
    fs::copy_file(TestServer::caBundlePath(), installation.applicationDir + "/PelorinCert.pem",
                  fs::copy_options::overwrite_existing);
}

// The sample release's files below Halvorne/Pelorin.
Tree releaseTree(const std::string& version) {
    const TempDir unpacked;
    const std::string command =
        "msiextract -C '" + unpacked.path() + "' '" + samplePackage(version) + "' >/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("msiextract failed");
    const fs::path top = unpacked.path() + "/Program Files/Halvorne/Pelorin";
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
        if (entry.is_regular_file())
            tree[fs::relative(entry.path(), top).string()] = readFile(entry.path().string());
    }
    return tree;
}

void install(const Tree& tree, Installation& installation) {
    for (const auto& [path, content] : tree)
        installation.writeFile(installation.rootDir + "/" + path, content);
}

// "1.0" or "1.1" when every file of that release is in place, as it is.
std::string installedRelease(const Installation& installation, const Tree& old, const Tree& next) {
    for (const Tree* tree : {&old, &next}) {
        bool whole = true;
        for (const auto& [path, content] : *tree)
            whole = whole && readFile(installation.rootDir + "/" + path) == content;
        if (whole) return tree == &old ? "1.0" : "1.1";
    }
    return "neither release whole";
}

// The names in a folder, sorted, each followed by a space.
std::string namesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code noFolder;
    for (const auto& entry : fs::directory_iterator(folder, noFolder))
        names.insert(entry.path().filename().string());
    std::string text;
    for (const std::string& name : names) text += name + " ";
    return text;
}

std::string manifest(const std::string& offered, const TestServer& server, const std::string& hash,
                     const std::string& listVersion, const std::string& listPath) {
    return "<?xml version=\"1.0\"?>\n<Update>\n  <AppId>com.halvornesys.pelorin</AppId>\n"
           "  <Predicate>Version &lt; " +
           offered + "</Predicate>\n  <Codebase>" + server.url("/Pelorin.msi") +
           "</Codebase>\n  <Hash>" + hash + "</Hash>\n  <Listversion>" + listVersion +
           "</Listversion>\n  <Listfile>" + server.url(listPath) + "</Listfile>\n  <Listhash>" +
           hashFileToHex(server.rootDir() + listPath) + "</Listhash>\n</Update>\n";
}

}  // namespace

// A list of 7.5 MiB, near the 8 MiB cap, replaces one as large: every kill,
// wherever it lands, leaves the old list or the new one, whole, and the next
// start completes the refresh.
TEST(EndToEndFaults, KilledRefreshLeavesOldOrNewListWhole) {
    TestServer server;
    Installation installation;
    layOut(installation);
    const auto largeList = [&](const std::string& version) {
        std::string list = "Version = " + version + "\n" + server.url("/") + "\n";
        while (list.size() < 7680 * 1024) list += "# " + version + std::string(120, '-') + "\n";
        return list;
    };
    const std::string oldList = largeList("1.0"), newList = largeList("2.0");
    server.putFile("/ServerList.lst", newList);
    server.putFile("/Win/UpdateWin.xml", manifest("1.0", server, "", "2.0", "/ServerList.lst"));
    const std::string list = installation.dataDir + "/ServerList.lst";
    const std::string temporary = installation.dataDir + "/~tmpList.lst";
    // A run on the old list, once it has begun the refresh (its temporary file appears).
    const auto startRefresh = [&] {
        installation.writeFile(list, oldList);
        fs::remove(installation.logPath());
        const pid_t updater = installation.startUpdater();
        while (!fs::exists(temporary) && !hasEnded(updater))
            std::this_thread::sleep_for(Micros(200));
        return updater;
    };
    const auto waitForLine = [&](pid_t updater, const char* line) {
        while (readFile(installation.logPath()).find(line) == std::string::npos &&
               !hasEnded(updater))
            std::this_thread::sleep_for(Micros(200));
        return Clock::now();
    };
    const auto expectCompleted = [&](const UpdaterRun& run) {
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(logIsComplete(run.log)) << run.log;
        EXPECT_TRUE(readFile(list) == newList) << "the list after a whole run";
        EXPECT_TRUE(readFile(list + ".bak") == oldList) << "the backup after a whole run";
        EXPECT_FALSE(fs::exists(temporary));
        EXPECT_FALSE(fs::exists(installation.dataDir + "/serverManifest.xml"));
    };
    // Half of the kills fall anywhere in the refresh, up to the line that
    // reports the new list loaded; the others in its last step (backup and
    // swap), after the line that reports the list validated.
    const char* const validated = "Server list file validated successfully";
    const pid_t measured = startRefresh();
    const Clock::time_point begun = Clock::now(), checked = waitForLine(measured, validated);
    const Clock::time_point loaded = waitForLine(measured, "updated to version 2.0");
    expectCompleted(installation.finishUpdater(measured));
    const long long refresh = std::chrono::duration_cast<Micros>(loaded - begun).count();
    const long long lastStep = std::chrono::duration_cast<Micros>(loaded - checked).count();

    const int kills = fromEnvironment("PELORIN_KILL_RUNS", 8);
    std::mt19937 random(20261206);
    Tally lastLines, listsLeft;
    for (int kill = 0; kill < kills && !HasFailure(); ++kill) {
        const pid_t updater = startRefresh();
        if (kill % 2) waitForLine(updater, validated);
        std::this_thread::sleep_for(Micros(
            std::uniform_int_distribution<long long>(0, kill % 2 ? lastStep : refresh)(random)));
        ::kill(updater, SIGKILL);
        const UpdaterRun killed = installation.finishUpdater(updater);
        ASSERT_FALSE(killed.log.empty()) << "the run wrote no log: another updater was running?";
        const std::string left = readFile(list);
        EXPECT_TRUE(left == oldList || left == newList) << "kill " << kill << ": the list is cut";
        // Every line reaches the file whole as it is written.
        EXPECT_NE(killed.log.find("An updated server list file version 2.0 found on server.\n"),
                  std::string::npos)
            << killed.log;
        EXPECT_EQ(killed.log.back(), '\n') << "a log line is cut";
        ++lastLines[killed.exitCode == 0 ? "(the run had ended)" : linesOf(killed.log).back()];
        ++listsLeft[left == newList ? "new list" : left == oldList ? "old list" : "neither"];
        expectCompleted(installation.runUpdater());  // the fresh start
    }
    std::cout << kills << " kills in a " << refresh / 1000 << " ms refresh, half in its last "
              << lastStep / 1000 << " ms\n";
    print("The killed run's last log line:", lastLines);
    print("The list the kill left:", listsLeft);
}

// Two updaters under the updater's own name, started together: they never
// both run; whichever way it goes, the installation is one release, whole.
TEST(EndToEndFaults, TwoUpdatersStartedTogetherNeverBothRun) {
    TestServer server;
    server.putFile("/Pelorin.msi", readFile(samplePackage("1.1")));
    const std::string list = "Version = 1.0\n" + server.url("/") + "\n";
    server.putFile("/ServerList.lst", list);
    server.putFile("/Win/UpdateWin.xml",
                   manifest("1.1", server, hashFileToHex(server.rootDir() + "/Pelorin.msi"), "1.0",
                            "/ServerList.lst"));
    const Tree old = releaseTree("1.0"), next = releaseTree("1.1");
    Tally outcomes;
    for (int attempt = 0; attempt < 5; ++attempt) {
        Installation installation;
        layOut(installation);
        install(old, installation);
        installation.writeFile(installation.dataDir + "/ServerList.lst", list);
        const std::string updater = installation.root.path() + "/bin/PelorinAutoUpdate";
        fs::create_directories(installation.root.path() + "/bin");
        fs::copy_file(PELORIN_UPDATER_EXE, updater);
        const std::size_t requestsBefore = server.requests().size();
        const pid_t first = installation.startUpdater({}, {}, updater);
        const pid_t second = installation.startUpdater({}, {}, updater);
        EXPECT_EQ(installation.finishUpdater(first).exitCode, 0);
        const UpdaterRun secondRun = installation.finishUpdater(second);
        EXPECT_EQ(secondRun.exitCode, 0);
        // One run asks for the manifest and the package.
        const std::size_t requests = server.requests().size() - requestsBefore;
        const std::string release = installedRelease(installation, old, next);
        EXPECT_TRUE(requests == 0 || requests == 2) << requests << " requests";
        if (requests == 0) {
            EXPECT_TRUE(secondRun.log.empty()) << "no run, yet a log:\n" << secondRun.log;
            EXPECT_EQ(release, "1.0");
            ++outcomes["both ended at once, nothing written"];
        } else {
            EXPECT_TRUE(logIsComplete(secondRun.log)) << secondRun.log;
            EXPECT_EQ(release, "1.1") << secondRun.log;
            ++outcomes["one updated, the other ended at once"];
        }
    }
    print("Two updaters started together:", outcomes);
}

// Consecutive runs against a main server that answers each request, drawn at
// random, correctly or with a 404 page, a cut body, a short stall, a wrong
// hash, malformed XML or a newer server list. After every run: exit code 0,
// the log complete, nothing left but the list and its backup, the list
// loadable, the installation one release, whole.
TEST(EndToEndFaults, SoakOfRunsAgainstAServerThatAnswersAtRandom) {
    if (mainServerPort() == 0) GTEST_SKIP() << "this build's main server is not on localhost";
    TestServer server(ServerCert::Good, mainServerPort());
    const std::string package = server.putFile("/Pelorin.msi", readFile(samplePackage("1.1")));
    const std::string listA = "Version = 1.0\n" + server.url("/") + "\n";
    const std::string listB =
        "Version = 2.0\n" + server.url("/Win/UpdateWin.xml") + "\n" + server.url("/") + "\n";
    server.putFile("/ListA.lst", listA);
    server.putFile("/ListB.lst", listB);
    const std::string hash = hashFileToHex(package);
    server.putFile("/Win/UpdateWin.xml", manifest("1.1", server, hash, "1.0", "/ListA.lst"));
    server.putFile("/variants/wrong-hash.xml",
                   manifest("1.1", server, std::string(40, 'A'), "1.0", "/ListA.lst"));
    server.putFile("/variants/newer-list.xml", manifest("1.1", server, hash, "2.0", "/ListB.lst"));
    server.putFile("/variants/malformed.xml",
                   manifest("1.1", server, hash, "1.0", "/ListA.lst").substr(0, 90));
    const int seed = fromEnvironment("PELORIN_SOAK_SEED", 1);
    // A 404 page, a body cut at a tenth of its length, a short stall.
    const auto atRandom = [&](const std::string& path, const std::string& more = "") {
        return R"({"seed": )" + std::to_string(seed) +
               R"(, "choose": [{}, {"status": 404}, {"truncate": )" +
               std::to_string(fs::file_size(server.rootDir() + path) / 10) +
               R"(}, {"delay_ms": 300})" + more + "]}";
    };
    server.setRule("/Win/UpdateWin.xml",
                   atRandom("/Win/UpdateWin.xml", R"(, {"file": "/variants/wrong-hash.xml"},)"
                                                  R"( {"file": "/variants/malformed.xml"},)"
                                                  R"( {"file": "/variants/newer-list.xml"})"));
    for (const char* path : {"/Pelorin.msi", "/ListA.lst", "/ListB.lst"})
        server.setRule(path, atRandom(path));

    const Tree old = releaseTree("1.0"), next = releaseTree("1.1");
    Installation installation;
    layOut(installation);
    install(old, installation);
    const std::string listPath = installation.dataDir + "/ServerList.lst";
    installation.writeFile(listPath, listA);
    const int runs = fromEnvironment("PELORIN_SOAK_RUNS", 10);
    Tally outcomes, listLines;
    for (int run = 1; run <= runs && !HasFailure(); ++run) {
        const UpdaterRun result = installation.runUpdater();
        SCOPED_TRACE("run " + std::to_string(run) + " of seed " + std::to_string(seed) +
                     ", its log:\n" + result.log);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_TRUE(logIsComplete(result.log));
        const std::string data = namesIn(installation.dataDir);
        EXPECT_TRUE(data == "ServerList.lst " || data == "ServerList.lst ServerList.lst.bak ")
            << data;
        EXPECT_EQ(namesIn(installation.installDir), "BatchLauncher.sh PelorinAutoUpdate ");
        EXPECT_EQ(namesIn(installation.updateDir), "");
        const std::string list = readFile(listPath);
        EXPECT_TRUE(list == listA || list == listB) << list;
        // Loaded as the updater loads it.
        std::vector<std::string> urls;
        std::string version = "0.0";
        std::FILE* file = std::fopen(listPath.c_str(), "rb");
        ASSERT_TRUE(file);
        readListLines(file, urls, version);
        std::fclose(file);
        EXPECT_TRUE((version == "1.0" && urls.size() == 1) ||
                    (version == "2.0" && urls.size() == 2))
            << version;
        const std::string release = installedRelease(installation, old, next);
        EXPECT_NE(release, "neither release whole");
        ++outcomes[outcomeOf(result.log)];
        for (const std::string& line : linesOf(result.log)) {
            if (line.find("erver list file") != std::string::npos &&
                line.find("..") == std::string::npos)
                ++listLines[line];
        }
        if (release == "1.1") install(old, installation);  // so that later runs update again
    }
    print(std::to_string(runs) + " runs of seed " + std::to_string(seed) + " ended:", outcomes);
    print("What they said of the server list:", listLines);
}
