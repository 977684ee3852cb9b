// Faults that take many whole runs of the updater to show: SIGKILL at random
// moments of a server list refresh, each followed by a fresh start; two
// updaters started at the same moment; a soak of consecutive runs against a
// server that answers every request at random; and the peak memory of a run
// against an endless manifest. Each run is checked from outside: its exit
// code, its log, the files it left. The counts are short by default (CI);
// PELORIN_KILL_RUNS and PELORIN_SOAK_RUNS set others (tools/fault_runs.sh
// runs the full ones). The tests are named EndToEnd* as they serve the main
// server's fixed port or start the updater under its own name.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "e2e/log_match.h"
#include "e2e/sample_packages.h"
#include "e2e/scenario_runner.h"
#include "serverlist/list_lines.h"
#include "support/installation.h"
#include "support/test_server.h"
#include "transfer/file_hash.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

int countFromEnvironment(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// A run's log holds the header first and the clean-up's two lines last.
bool logIsComplete(const std::string& log) {
    const std::vector<std::string> lines = linesOf(log);
    return lines.size() >= 6 && log.back() == '\n' &&
           lineMatches("*************** PelorinAutoUpdate [2.5] **************", lines[0]) &&
           lines[1].empty() && lineMatches("Started at: <any>.", lines[2]) &&
           lines[lines.size() - 2] == "Cleaning temporary files..." &&
           lines.back() == "Temporary files cleaned up successfully.";
}

// The line that tells how a complete run ended: the one before the elapsed time.
std::string outcomeOf(const std::string& log) {
    const std::vector<std::string> lines = linesOf(log);
    return lines.size() >= 4 ? lines[lines.size() - 4] : "(no log)";
}

// Whether the child has ended; it is left for its parent to reap.
bool hasEnded(pid_t child) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
           info.si_pid == child;
}

std::string lastLineOf(const std::string& log) {
    const std::vector<std::string> lines = linesOf(log);
    return lines.empty() ? "(no log)" : lines.back();
}

void printTally(const std::string& title, const std::map<std::string, int>& tally) {
    std::cout << title << "\n";
    for (const auto& [what, count] : tally) std::cout << "  " << count << "  " << what << "\n";
}

// The names in a folder, sorted, each followed by a space.
std::string namesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code noFolder;
    for (const auto& entry : fs::directory_iterator(folder, noFolder)) {
        names.insert(entry.path().filename().string());
    }
    std::string text;
    for (const std::string& name : names) text += name + " ";
    return text;
}

// The files of a sample release below Halvorne/Pelorin, by relative path.
using Tree = std::map<std::string, std::string>;

Tree releaseTree(const std::string& version) {
    const TempDir unpacked;
    const std::string command =
        "msiextract -C '" + unpacked.path() + "' '" + samplePackage(version) + "' >/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("msiextract failed");
    const fs::path top = unpacked.path() + "/Program Files/Halvorne/Pelorin";
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
        if (entry.is_regular_file()) {
            tree[fs::relative(entry.path(), top).string()] = readFile(entry.path().string());
        }
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
        for (const auto& [path, content] : *tree) {
            whole = whole && readFile(installation.rootDir + "/" + path) == content;
        }
        if (whole) return tree == &old ? "1.0" : "1.1";
    }
    return "neither release whole";
}

// The version and the number of entries of a list file, as the updater loads it.
std::string loadedList(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return "unreadable";
    std::vector<std::string> urls;
    std::string version = "0.0";
    readListLines(file, urls, version);
    std::fclose(file);
    return version + " with " + std::to_string(urls.size()) + " entries";
}

std::string manifest(const std::string& offered, const TestServer& server, const std::string& hash,
                     const std::string& listVersion, const std::string& listPath) {
    return "<?xml version=\"1.0\"?>\n<Update>\n  <AppId>com.halvornesys.pelorin</AppId>\n"
           "  <Predicate>Version &lt; " +
           offered +
           "</Predicate>\n"
           "  <Codebase>" +
           server.url("/Pelorin.msi") +
           "</Codebase>\n"
           "  <Hash>" +
           hash + "</Hash>\n  <Listversion>" + listVersion +
           "</Listversion>\n"
           "  <Listfile>" +
           server.url(listPath) +
           "</Listfile>\n"
           "  <Listhash>" +
           hashFileToHex(server.rootDir() + listPath) + "</Listhash>\n</Update>\n";
}

}  // namespace

// A list of 7.5 MiB, near the 8 MiB cap, replaces one as large: every kill,
// wherever it lands, leaves the old list or the new one, whole, and the next
// start completes the refresh.
TEST(EndToEndFaults, KilledRefreshLeavesOldOrNewListWhole) {
    TestServer server;
    Installation installation;
    installation.layOutComplete();
    fs::copy_file(TestServer::caBundlePath(), installation.applicationDir + "/PelorinCert.pem",
                  fs::copy_options::overwrite_existing);
    const auto largeList = [&](const std::string& version) {
        std::string list = "Version = " + version + "\n" + server.url("/") + "\n";
        while (list.size() < 7680 * 1024) list += "# " + version + std::string(120, '-') + "\n";
        return list;
    };
    const std::string oldList = largeList("1.0"), newList = largeList("2.0");
    server.putFile("/ServerList.lst", newList);
    server.putFile("/Win/UpdateWin.xml", manifest("1.0", server, "", "2.0", "/ServerList.lst"));
    const std::string listPath = installation.dataDir + "/ServerList.lst";

    const std::string temporaryList = installation.dataDir + "/~tmpList.lst";
    // The refresh begins when the download's temporary file appears.
    const auto startedUntilRefresh = [&] {
        const pid_t updater = installation.startUpdater();
        while (!fs::exists(temporaryList) && !hasEnded(updater)) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return std::pair<pid_t, Clock::time_point>(updater, Clock::now());
    };
    const auto expectRefreshCompleted = [&](const UpdaterRun& run) {
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(logIsComplete(run.log)) << run.log;
        EXPECT_TRUE(readFile(listPath) == newList) << "the list after a whole run";
        EXPECT_TRUE(readFile(listPath + ".bak") == oldList) << "the backup after a whole run";
        EXPECT_FALSE(fs::exists(temporaryList));
        EXPECT_FALSE(fs::exists(installation.dataDir + "/serverManifest.xml"));
    };
    // Every other kill falls anywhere from the refresh's start (the temporary
    // file appears) to the line that reports the new list loaded, the others
    // in the last step from the line that reports the list validated: the
    // backup and the swap. The steps' lengths are the quickest of three runs.
    using Micros = std::chrono::microseconds;
    const auto waitForLine = [&](pid_t updater, const char* line) {
        while (readFile(installation.logPath()).find(line) == std::string::npos &&
               !hasEnded(updater)) {
            std::this_thread::sleep_for(Micros(200));
        }
        return Clock::now();
    };
    const char* const validatedLine = "Server list file validated successfully";
    Micros refresh = Micros::max(), lastStep = Micros::max();
    for (int warmUp = 0; warmUp < 3; ++warmUp) {
        installation.writeFile(listPath, oldList);
        const auto [updater, refreshStart] = startedUntilRefresh();
        const Clock::time_point validated = waitForLine(updater, validatedLine);
        const Clock::time_point loaded = waitForLine(updater, "updated to version 2.0");
        refresh = std::min(refresh, std::chrono::duration_cast<Micros>(loaded - refreshStart));
        lastStep = std::min(lastStep, std::chrono::duration_cast<Micros>(loaded - validated));
        expectRefreshCompleted(installation.finishUpdater(updater));
    }

    const int kills = countFromEnvironment("PELORIN_KILL_RUNS", 10);
    std::mt19937 random(20261206);
    std::uniform_int_distribution<long long> inRefresh(0, refresh.count());
    std::uniform_int_distribution<long long> inLastStep(0, lastStep.count());
    std::map<std::string, int> lastLines, listsLeft;
    for (int kill = 0; kill < kills && !HasFailure(); ++kill) {
        installation.writeFile(listPath, oldList);
        fs::remove(installation.logPath());
        const pid_t updater = startedUntilRefresh().first;
        if (kill % 2) waitForLine(updater, validatedLine);
        std::this_thread::sleep_for(Micros(kill % 2 ? inLastStep(random) : inRefresh(random)));
        ::kill(updater, SIGKILL);
        const UpdaterRun killed = installation.finishUpdater(updater);
        ASSERT_FALSE(killed.log.empty()) << "the run wrote no log: another updater was running?";
        const std::string list = readFile(listPath);
        EXPECT_TRUE(list == oldList || list == newList) << "kill " << kill << ": the list is cut";
        // Every line reaches the file as it is written: the one before the
        // refresh is there, and none is cut.
        EXPECT_NE(killed.log.find("An updated server list file version 2.0 found on server.\n"),
                  std::string::npos)
            << killed.log;
        EXPECT_EQ(killed.log.back(), '\n') << "a log line is cut";
        ++lastLines[killed.exitCode == 0 ? "(the run had ended)" : lastLineOf(killed.log)];
        ++listsLeft[list == newList ? "new list" : list == oldList ? "old list" : "neither"];
        expectRefreshCompleted(installation.runUpdater());  // the fresh start
    }
    std::cout << kills << " kills at random moments of a " << refresh.count() / 1000
              << " ms refresh (half of them in its last step, " << lastStep.count() / 1000
              << " ms), each followed by a fresh start\n";
    printTally("The killed run's last log line:", lastLines);
    printTally("The list the kill left:", listsLeft);
}

// Two updaters under the updater's own name, started together: they never
// both run; whichever way it goes, the installation is one release, whole.
TEST(EndToEndFaults, TwoUpdatersStartedTogetherNeverBothRun) {
    TestServer server;
    const std::string package = readFile(samplePackage("1.1"));
    server.putFile("/Pelorin.msi", package);
    server.putFile("/ServerList.lst", "Version = 1.0\n" + server.url("/") + "\n");
    server.putFile("/Win/UpdateWin.xml",
                   manifest("1.1", server, hashFileToHex(server.rootDir() + "/Pelorin.msi"), "1.0",
                            "/ServerList.lst"));
    const Tree old = releaseTree("1.0"), next = releaseTree("1.1");
    std::map<std::string, int> outcomes;
    for (int attempt = 0; attempt < 10; ++attempt) {
        Installation installation;
        installation.layOutComplete();
        install(old, installation);
        fs::copy_file(TestServer::caBundlePath(), installation.applicationDir + "/PelorinCert.pem",
                      fs::copy_options::overwrite_existing);
        installation.writeFile(installation.dataDir + "/ServerList.lst",
                               "Version = 1.0\n" + server.url("/") + "\n");
        const std::string realName = installation.root.path() + "/bin/PelorinAutoUpdate";
        fs::create_directories(installation.root.path() + "/bin");
        fs::copy_file(PELORIN_UPDATER_EXE, realName);
        const std::size_t requestsBefore = server.requests().size();
        const pid_t first = installation.startUpdater({}, {}, realName);
        const pid_t second = installation.startUpdater({}, {}, realName);
        const UpdaterRun firstRun = installation.finishUpdater(first);
        const UpdaterRun secondRun = installation.finishUpdater(second);
        EXPECT_EQ(firstRun.exitCode, 0);
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
    printTally("Two updaters started together, 10 times:", outcomes);
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
    const int seed = countFromEnvironment("PELORIN_SOAK_SEED", 1);
    // A 404 page, a body cut at a tenth of its length, a short stall.
    const auto atRandom = [&](const std::string& path, const std::string& more = "") {
        const std::string cut = std::to_string(fs::file_size(server.rootDir() + path) / 10);
        return R"({"seed": )" + std::to_string(seed) + R"(, "choose": [{}, {"status": 404}, )" +
               R"({"truncate": )" + cut + R"(}, {"delay_ms": 300})" + more + "]}";
    };
    server.setRule("/Win/UpdateWin.xml",
                   atRandom("/Win/UpdateWin.xml", R"(, {"file": "/variants/wrong-hash.xml"},)"
                                                  R"( {"file": "/variants/malformed.xml"},)"
                                                  R"( {"file": "/variants/newer-list.xml"})"));
    for (const char* path : {"/Pelorin.msi", "/ListA.lst", "/ListB.lst"}) {
        server.setRule(path, atRandom(path));
    }

    const Tree old = releaseTree("1.0"), next = releaseTree("1.1");
    Installation installation;
    installation.layOutComplete();
    install(old, installation);
    fs::copy_file(TestServer::caBundlePath(), installation.applicationDir + "/PelorinCert.pem",
                  fs::copy_options::overwrite_existing);
    const std::string listPath = installation.dataDir + "/ServerList.lst";
    installation.writeFile(listPath, listA);

    const int runs = countFromEnvironment("PELORIN_SOAK_RUNS", 30);
    std::map<std::string, int> outcomes, listLines;
    const Clock::time_point start = Clock::now();
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
        const std::string loaded = loadedList(listPath);
        EXPECT_TRUE(loaded == "1.0 with 1 entries" || loaded == "2.0 with 2 entries") << loaded;
        const std::string release = installedRelease(installation, old, next);
        EXPECT_NE(release, "neither release whole");
        ++outcomes[outcomeOf(result.log)];
        for (const std::string& line : linesOf(result.log)) {
            if (line.find("erver list file") != std::string::npos &&
                line.find("..") == std::string::npos)
                ++listLines[line];
        }
        // Back to the old release, so that later runs update again.
        if (release == "1.1") install(old, installation);
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start);
    std::cout << runs << " runs in " << seconds.count() << " s, seed " << seed << "\n";
    printTally("How the runs ended:", outcomes);
    printTally("What the runs said of the server list:", listLines);
}

// An endless manifest without a length, from the listed server and the main
// server alike: each transfer stops at the 1 MiB cap, and the run's peak
// memory stays under 32 MiB, even in this build with AddressSanitizer (told
// not to keep freed memory aside, which would count every short-lived
// buffer). Measured with GNU time, whose child is not a copy of this large
// process. bench/endless_body_bench measures the release build.
TEST(EndToEndFaults, EndlessManifestRunStaysInLittleMemory) {
    if (mainServerPort() == 0) GTEST_SKIP() << "this build's main server is not on localhost";
    if (!fs::exists("/usr/bin/time")) GTEST_SKIP() << "GNU time (Debian package time) is missing";
    TestServer server(ServerCert::Good, mainServerPort());
    Installation installation;
    installation.layOutComplete();
    fs::copy_file(TestServer::caBundlePath(), installation.applicationDir + "/PelorinCert.pem",
                  fs::copy_options::overwrite_existing);
    const std::string list = "Version = 1.0\n" + server.url("/") + "\n";
    installation.writeFile(installation.dataDir + "/ServerList.lst", list);
    server.putFile("/ServerList.lst", list);
    server.putFile("/Win/UpdateWin.xml", manifest("1.0", server, "", "1.0", "/ServerList.lst"));
    const std::string peakFile = installation.root.path() + "/peak";
    const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
    const std::string noQuarantine =
        "ASAN_OPTIONS=" + std::string(sanitizerOptions ? sanitizerOptions : "") +
        ":quarantine_size_mb=0";
    const auto peakMiB = [&] {
        const UpdaterRun run = installation.finishUpdater(installation.startUpdater(
            {}, {"/usr/bin/time", "-f", "%M", "-o", peakFile, "/usr/bin/env", noQuarantine}));
        EXPECT_EQ(run.exitCode, 0);
        return std::pair<double, std::string>(std::atof(readFile(peakFile).c_str()) / 1024,
                                              run.log);
    };
    const auto [smallManifestPeak, smallLog] = peakMiB();
    EXPECT_EQ(outcomeOf(smallLog), "Pelorin is up-to-date, no update found on server.") << smallLog;
    server.setRule("/Win/UpdateWin.xml", R"({"endless": true, "chunked": true})");
    const auto [endlessPeak, endlessLog] = peakMiB();
    EXPECT_EQ(outcomeOf(endlessLog), "Fatal Error! Update failed.") << endlessLog;
    EXPECT_LT(endlessPeak, 32) << "MiB";
    std::printf("Peak memory: %.1f MiB against an endless manifest, %.1f MiB against a small one\n",
                endlessPeak, smallManifestPeak);
}
