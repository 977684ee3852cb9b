// Faults that take many whole runs to show, each run checked from outside:
// SIGKILLs during server list refreshes, two updaters started together, a
// soak against a server that answers at random. The counts are short here;
// PELORIN_KILL_RUNS, PELORIN_SOAK_RUNS and PELORIN_SOAK_SEED set others
// (tools/fault_runs.sh runs long ones).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <thread>

#include "e2e/child_process.h"
#include "e2e/sample_packages.h"
#include "e2e/scenario_runner.h"
#include "support/test_server.h"
#include "transfer/file_hash.h"

namespace fs = std::filesystem;
using Micros = std::chrono::microseconds;

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

void layOut(Installation& installation, const std::string& list) {
    installation.layOutComplete();
    fs::copy_file(TestServer::caBundlePath(), installation.applicationDir + "/PelorinCert.pem",
                  fs::copy_options::overwrite_existing);
    installation.writeFile(installation.dataDir + "/ServerList.lst", list);
}

// The sample release `version` as msiextract lays it out, once per process.
std::string release(const std::string& version) {
    static const TempDir releases;
    const std::string dir = releases.path() + "/" + version;
    const std::string command =
        "msiextract -C '" + dir + "' '" + samplePackage(version) + "' >/dev/null";
    if (!fs::exists(dir) && std::system(command.c_str()) != 0)
        throw std::runtime_error("msiextract failed");
    return dir + "/Program Files/Halvorne/Pelorin";
}

void install(const std::string& version, Installation& installation) {
    fs::copy(release(version), installation.rootDir,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

// "1.0" or "1.1" when the installation is that release, whole (beside its own files).
std::string installedRelease(const Installation& installation) {
    for (const char* version : {"1.0", "1.1"}) {
        const std::string command = "diff -rq -x Update -x Data -x PelorinCert.pem '" +
                                    release(version) + "' '" + installation.rootDir +
                                    "' >/dev/null";
        if (std::system(command.c_str()) == 0) return version;
    }
    return "neither release whole";
}

std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code noFolder;
    for (const auto& entry : fs::directory_iterator(folder, noFolder))
        names.insert(entry.path().filename());
    return names;
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
    const auto largeList = [&](const std::string& version) {
        std::string list = "Version = " + version + "\n" + server.url("/") + "\n";
        while (list.size() < 7680 * 1024) list += "# " + version + std::string(120, '-') + "\n";
        return list;
    };
    const std::string oldList = largeList("1.0"), newList = largeList("2.0");
    server.putFile("/ServerList.lst", newList);
    server.putFile("/Win/UpdateWin.xml", manifest("1.0", server, "", "2.0", "/ServerList.lst"));
    Installation installation;
    layOut(installation, oldList);
    const std::string list = installation.dataDir + "/ServerList.lst";
    const std::string temporary = installation.dataDir + "/~tmpList.lst";
    // Polls until the run has written `line` (or, with none, begun the
    // refresh: its temporary file appears) or ended; gives the microsecond.
    const auto waitFor = [&](pid_t updater, const char* line) {
        while (!(line ? readFile(installation.logPath()).find(line) != std::string::npos
                      : fs::exists(temporary)) &&
               !hasEnded(updater)) {
            std::this_thread::sleep_for(Micros(200));
        }
        return std::chrono::duration_cast<Micros>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    const auto startRefresh = [&] {
        installation.writeFile(list, oldList);
        fs::remove(installation.logPath());
        return installation.startUpdater();
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
    const long long begun = waitFor(measured, nullptr), checked = waitFor(measured, validated);
    const long long loaded = waitFor(measured, "updated to version 2.0");
    expectCompleted(installation.finishUpdater(measured));

    const int kills = fromEnvironment("PELORIN_KILL_RUNS", 8);
    std::mt19937 random(20261206);
    for (int kill = 0; kill < kills && !HasFailure(); ++kill) {
        const pid_t updater = startRefresh();
        waitFor(updater, kill % 2 ? validated : nullptr);
        const long long window = kill % 2 ? loaded - checked : loaded - begun;
        std::this_thread::sleep_for(
            Micros(std::uniform_int_distribution<long long>(0, window)(random)));
        ::kill(updater, SIGKILL);
        const UpdaterRun killed = installation.finishUpdater(updater);
        ASSERT_FALSE(killed.log.empty()) << "no log: another updater was running?";
        const std::string left = readFile(list);
        EXPECT_TRUE(left == oldList || left == newList) << "kill " << kill << ": the list is cut";
        // Every line reaches the file whole as it is written.
        EXPECT_NE(killed.log.find("An updated server list file version 2.0 found on server.\n"),
                  std::string::npos)
            << killed.log;
        EXPECT_EQ(killed.log.back(), '\n') << "a log line is cut";
        expectCompleted(installation.runUpdater());  // the fresh start
    }
    std::cout << kills << " kills in a " << (loaded - begun) / 1000 << " ms refresh\n";
}

// Two updaters under the updater's own name, started together: they never
// both run; whichever way it goes, the installation is one release, whole.
TEST(EndToEndFaults, TwoUpdatersStartedTogetherNeverBothRun) {
    TestServer server;
    const std::string package = server.putFile("/Pelorin.msi", readFile(samplePackage("1.1")));
    const std::string list = "Version = 1.0\n" + server.url("/") + "\n";
    server.putFile("/ServerList.lst", list);
    server.putFile("/Win/UpdateWin.xml",
                   manifest("1.1", server, hashFileToHex(package), "1.0", "/ServerList.lst"));
    for (int attempt = 0; attempt < 5; ++attempt) {
        Installation installation;
        layOut(installation, list);
        install("1.0", installation);
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
        EXPECT_TRUE(requests == 0 || requests == 2) << requests << " requests";
        EXPECT_EQ(installedRelease(installation), requests ? "1.1" : "1.0");
        EXPECT_EQ(requests ? logIsComplete(secondRun.log) : secondRun.log.empty(), true)
            << secondRun.log;
    }
}

// Consecutive runs against a main server that answers each request, drawn at
// random, correctly or with a 404 page, a cut body, a short stall, a wrong
// hash, malformed XML or a newer server list. After every run: exit code 0,
// the log complete, nothing left but the list and its backup, the list one of
// the two, the installation one release, whole.
TEST(EndToEndFaults, SoakOfRunsAgainstAServerThatAnswersAtRandom) {
    if (mainServerPort() == 0) GTEST_SKIP() << "this build's main server is not on localhost";
    TestServer server(ServerCert::Good, mainServerPort());
    const std::string package = server.putFile("/Pelorin.msi", readFile(samplePackage("1.1")));
    const std::string listA = "Version = 1.0\n" + server.url("/") + "\n";
    const std::string listB =
        "Version = 2.0\n" + server.url("/Win/UpdateWin.xml") + "\n" + server.url("/") + "\n";
    server.putFile("/ListA.lst", listA);
    server.putFile("/ListB.lst", listB);
    const std::string hash = hashFileToHex(package),
                      good = manifest("1.1", server, hash, "1.0", "/ListA.lst");
    server.putFile("/Win/UpdateWin.xml", good);
    server.putFile("/wrong-hash.xml",
                   manifest("1.1", server, std::string(40, 'A'), "1.0", "/ListA.lst"));
    server.putFile("/newer-list.xml", manifest("1.1", server, hash, "2.0", "/ListB.lst"));
    server.putFile("/malformed.xml", good.substr(0, 90));
    const int seed = fromEnvironment("PELORIN_SOAK_SEED", 1);
    // A 404 page, a body cut at a tenth of its length, a short stall.
    const auto atRandom = [&](const std::string& path, const std::string& more = "") {
        return R"({"seed": )" + std::to_string(seed) +
               R"(, "choose": [{}, {"status": 404}, {"truncate": )" +
               std::to_string(fs::file_size(server.rootDir() + path) / 10) +
               R"(}, {"delay_ms": 300})" + more + "]}";
    };
    server.setRule("/Win/UpdateWin.xml",
                   atRandom("/Win/UpdateWin.xml", R"(, {"file": "/wrong-hash.xml"},)"
                                                  R"( {"file": "/malformed.xml"},)"
                                                  R"( {"file": "/newer-list.xml"})"));
    for (const char* path : {"/Pelorin.msi", "/ListA.lst", "/ListB.lst"})
        server.setRule(path, atRandom(path));

    Installation installation;
    layOut(installation, listA);
    install("1.0", installation);
    const int runs = fromEnvironment("PELORIN_SOAK_RUNS", 10);
    for (int run = 1; run <= runs && !HasFailure(); ++run) {
        const UpdaterRun result = installation.runUpdater();
        SCOPED_TRACE("run " + std::to_string(run) + " of seed " + std::to_string(seed) + ":\n" +
                     result.log);
        EXPECT_EQ(result.exitCode, 0);
        ASSERT_TRUE(logIsComplete(result.log));
        const std::set<std::string> data = namesIn(installation.dataDir);
        const std::set<std::string> listOnly = {"ServerList.lst"},
                                    withBackup = {"ServerList.lst", "ServerList.lst.bak"};
        EXPECT_TRUE(data == listOnly || data == withBackup);
        EXPECT_EQ(namesIn(installation.installDir),
                  (std::set<std::string>{"BatchLauncher.sh", "PelorinAutoUpdate"}));
        EXPECT_TRUE(namesIn(installation.updateDir).empty());
        const std::string list = readFile(installation.dataDir + "/ServerList.lst");
        EXPECT_TRUE(list == listA || list == listB) << list;
        const std::string release = installedRelease(installation);
        EXPECT_NE(release, "neither release whole");
        if (release == "1.1") install("1.0", installation);  // so that later runs update again
        const std::vector<std::string> lines = linesOf(result.log);
        std::cout << "run " << run << ": " << lines[lines.size() - 4] << "\n";  // how it ended
    }
}
