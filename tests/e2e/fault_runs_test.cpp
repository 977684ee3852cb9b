// Faults that take many whole runs to show: SIGKILLs during list refreshes (PELORIN_KILL_RUNS
// sets their count, tools/fault_runs.sh), two updaters started together.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

#include "e2e/sample_packages.h"
#include "e2e/scenario_runner.h"
#include "support/child_process.h"
#include "support/test_server.h"
#include "transfer/file_hash.h"

namespace fs = std::filesystem;
using Micros = std::chrono::microseconds;

// The header first, the clean-up's two lines last, no line cut.
static bool logIsComplete(const std::string& log) {
    const std::vector<std::string> lines = linesOf(log);
    return lines.size() >= 6 && log.back() == '\n' &&
           lines[0] == "*************** PelorinAutoUpdate [2.5] **************" &&
           lines[1].empty() && lineMatches("Started at: <any>.", lines[2]) &&
           lines[lines.size() - 2] == "Cleaning temporary files..." &&
           lines.back() == "Temporary files cleaned up successfully.";
}

// The sample release `version` as msiextract lays it out, once per process.
static std::string release(const std::string& version) {
    static const TempDir releases;
    const std::string dir = releases.path() + "/" + version;
    const std::string command =
        "msiextract -C '" + dir + "' '" + samplePackage(version) + "' >/dev/null";
    if (!fs::exists(dir) && std::system(command.c_str()) != 0)
        throw std::runtime_error("msiextract failed");
    return dir + "/Program Files/Halvorne/Pelorin";
}

// An installation with `list`, the test CA and, with a `version`, that release.
static void layOut(Installation& installation, const std::string& list,
                   const char* version = nullptr) {
    installation.layOutComplete();
    fs::copy_file(TestServer::caBundlePath(), installation.applicationDir + "/PelorinCert.pem",
                  fs::copy_options::overwrite_existing);
    installation.writeFile(installation.dataDir + "/ServerList.lst", list);
    if (version)
        fs::copy(release(version), installation.rootDir,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

// "1.0" or "1.1" when the installation is that release, whole (beside its own files).
static std::string installedRelease(const Installation& installation) {
    for (const char* version : {"1.0", "1.1"}) {
        const std::string command = "diff -rq -x Update -x Data -x PelorinCert.pem '" +
                                    release(version) + "' '" + installation.rootDir +
                                    "' >/dev/null";
        if (std::system(command.c_str()) == 0) return version;
    }
    return "neither release whole";
}

static std::string manifest(const std::string& offered, const TestServer& server,
                            const std::string& hash, const std::string& listVersion) {
    return "<Update><AppId>com.halvornesys.pelorin</AppId><Predicate>Version &lt; " + offered +
           "</Predicate><Codebase>" + server.url("/Pelorin.msi") + "</Codebase><Hash>" + hash +
           "</Hash><Listversion>" + listVersion + "</Listversion><Listfile>" +
           server.url("/ServerList.lst") + "</Listfile><Listhash>" +
           hashFileToHex(server.rootDir() + "/ServerList.lst") + "</Listhash></Update>\n";
}

// A 7.5 MiB list (near the cap) replaces another: a kill leaves either whole; a rerun completes.
// It takes turns with the other updater runs: two updaters started together elsewhere
// would make its runs end at once, as the single-instance guard counts them.
TEST(FaultRuns, KilledRefreshLeavesOldOrNewListWhole) {
    TestServer server;
    const auto largeList = [&](const std::string& version) {
        std::string list = "Version = " + version + "\n" + server.url("/") + "\n";
        while (list.size() < 7680 * 1024) list += "# " + version + std::string(120, '-') + "\n";
        return list;
    };
    const std::string oldList = largeList("1.0"), newList = largeList("2.0");
    server.putFile("/ServerList.lst", newList);
    server.putFile("/Win/UpdateWin.xml", manifest("1.0", server, "", "2.0"));
    Installation installation;
    layOut(installation, oldList);
    const std::string copy = installation.root.path() + "/PelorinAutoUpdate-killed";
    fs::copy_file(PELORIN_UPDATER_EXE, copy);
    const std::string list = installation.dataDir + "/ServerList.lst";
    const std::string temporary = installation.dataDir + "/~tmpList.lst";
    // Polls until the run has written `line` (without one: begun the refresh) or ended.
    const auto waitFor = [&](pid_t updater, const char* line) {
        while (!(line ? readFile(installation.logPath()).find(line) != std::string::npos
                      : fs::exists(temporary)) &&
               !hasEnded(updater))
            std::this_thread::sleep_for(Micros(200));
        return std::chrono::steady_clock::now();
    };
    const auto startRefresh = [&] {
        installation.writeFile(list, oldList);
        fs::remove(installation.logPath());
        return installation.startUpdater({}, {}, copy);
    };
    const auto expectCompleted = [&](const UpdaterRun& run) {
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(logIsComplete(run.log)) << run.log;
        EXPECT_TRUE(readFile(list) == newList) << "the list after a whole run";
        EXPECT_TRUE(readFile(list + ".bak") == oldList) << "the backup after a whole run";
        EXPECT_FALSE(fs::exists(temporary));
        EXPECT_FALSE(fs::exists(installation.dataDir + "/serverManifest.xml"));
    };
    // Half of the kills fall anywhere in the refresh, half after validation (backup and swap).
    const char* const validated = "Server list file validated successfully";
    const pid_t measured = startRefresh();
    const auto begun = waitFor(measured, nullptr), checked = waitFor(measured, validated);
    const auto loaded = waitFor(measured, "updated to version 2.0");
    expectCompleted(installation.finishUpdater(measured));
    const char* killRuns = std::getenv("PELORIN_KILL_RUNS");
    const int kills = killRuns && std::atoi(killRuns) > 0 ? std::atoi(killRuns) : 2;
    std::mt19937 random(20261206);
    for (int kill = 0; kill < kills && !HasFailure(); ++kill) {
        const pid_t updater = startRefresh();
        waitFor(updater, kill % 2 ? validated : nullptr);
        const long long window = (loaded - (kill % 2 ? checked : begun)) / Micros(1);
        std::this_thread::sleep_for(Micros(std::uniform_int_distribution(0LL, window)(random)));
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
        expectCompleted(installation.runUpdater({}, copy));  // the fresh start
    }
    std::cout << kills << " kills in a " << (loaded - begun) / Micros(1000) << " ms refresh\n";
}

// The processes whose command line names `text`: the updater and its copy.
static std::vector<pid_t> processesNaming(const std::string& text) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const pid_t pid = std::atoi(entry.path().filename().c_str());
        if (pid > 0 && pid != ::getpid() &&
            readFile(entry.path().string() + "/cmdline").find(text) != std::string::npos)
            found.push_back(pid);
    }
    return found;
}

// SIGKILL to the updater and its copy together (a power cut) at a random instant of the copy of
// a 20 MB release that carries the updater's folder, launcher included. What the scheduled task
// needs stands whole after every kill, and the next start, through the launcher as the task makes
// it, finishes or undoes the install, then updates: the whole installation is the new release.
TEST(EndToEndFaults, KilledInstallIsFinishedOrUndoneByTheNextRun) {
    TestServer server;
    const TempDir work;
    const std::string launcher = PELORIN_SOURCE_DIR "/tools/bundle/BatchLauncher.sh";
    fs::create_directories(work.path() + "/Update");
    fs::copy_file(PELORIN_UPDATER_EXE, work.path() + "/Update/PelorinAutoUpdate");
    fs::copy_file(launcher, work.path() + "/Update/BatchLauncher.sh");
    const std::string package = server.putFile(
        "/Pelorin.msi",
        readFile(samplePackage("1.1", "--update-folder '" + work.path() + "/Update'", 20000000)));
    server.putFile("/Win/UpdateWin.xml", manifest("1.1", server, hashFileToHex(package), "1.0"));
    ASSERT_EQ(
        std::system(("msiextract -C '" + work.path() + "' '" + package + "' >/dev/null").c_str()),
        0);
    const std::string tree = work.path() + "/Program Files/Halvorne/Pelorin";
    const auto install = [&](Installation& installation) {
        layOut(installation, "Version = 1.0\n" + server.url("/") + "\n", "1.0");
        fs::copy_file(PELORIN_UPDATER_EXE, installation.installDir + "/PelorinAutoUpdate",
                      fs::copy_options::overwrite_existing);
        fs::copy_file(launcher, installation.installDir + "/BatchLauncher.sh",
                      fs::copy_options::overwrite_existing);
        // The sample 1.0 carries Windows stand-ins in its Update folder; this one does not.
        fs::remove(installation.installDir + "/PelorinAutoUpdate.exe");
        fs::remove(installation.installDir + "/BatchLauncher.vbs");
    };
    const auto journalExists = [](const Installation& installation) {
        return fs::exists(installation.updateDir + "/install.journal");
    };
    // The copy's window: from the journal's writing to its removal, in an uninterrupted run.
    long long window = 0;
    {
        Installation installation;
        install(installation);
        const pid_t run =
            installation.startUpdater({}, {}, installation.installDir + "/PelorinAutoUpdate");
        while (!journalExists(installation) && !hasEnded(run))
            std::this_thread::sleep_for(Micros(100));
        const auto begun = std::chrono::steady_clock::now();
        while (journalExists(installation) && !hasEnded(run))
            std::this_thread::sleep_for(Micros(100));
        window = (std::chrono::steady_clock::now() - begun) / Micros(1);
        ASSERT_EQ(installation.finishUpdater(run).exitCode, 0);
    }
    const char* killRuns = std::getenv("PELORIN_KILL_RUNS");
    const int kills = killRuns && std::atoi(killRuns) > 0 ? std::atoi(killRuns) : 2;
    std::mt19937 random(20261207);
    int undone = 0, completed = 0;
    for (int kill = 0; kill < kills && !HasFailure(); ++kill) {
        Installation installation;
        install(installation);
        const std::string updater = installation.installDir + "/PelorinAutoUpdate";
        const std::string oldUpdater = readFile(updater), oldLauncher = readFile(launcher);
        const pid_t first = installation.startUpdater({}, {}, updater);
        while (!journalExists(installation) && !hasEnded(first))
            std::this_thread::sleep_for(Micros(100));
        std::this_thread::sleep_for(Micros(std::uniform_int_distribution(0LL, window)(random)));
        for (const pid_t pid : processesNaming(installation.updateDir)) ::kill(pid, SIGKILL);
        ::kill(first, SIGKILL);
        installation.finishUpdater(first);
        for (const std::string& file :
             {std::string("/Update/BatchLauncher.sh"), std::string("/Update/PelorinAutoUpdate")}) {
            const std::string left = readFile(installation.rootDir + file);
            EXPECT_TRUE(left == readFile(tree + file) ||
                        left ==
                            (file.find("Launcher") != std::string::npos ? oldLauncher : oldUpdater))
                << "kill " << kill << ": " << file << " is not whole";
        }
        // The next start, as the scheduled task makes it: the launcher detaches the updater.
        fs::remove(installation.logPath());
        installation.finishUpdater(installation.startUpdater(
            {}, {"/bin/sh", installation.installDir + "/BatchLauncher.sh"}, updater));
        // Until the detached run has written its last line and ended (two minutes at most).
        std::string log;
        for (int poll = 0; poll < 2400 && (!logIsComplete(log = readFile(installation.logPath())) ||
                                           !processesNaming(installation.installDir).empty());
             ++poll)
            std::this_thread::sleep_for(Micros(50000));
        undone += log.find("Pelorin undone") != std::string::npos;
        completed += log.find("Pelorin completed") != std::string::npos;
        EXPECT_TRUE(logIsComplete(log) && log.find("Failed") == std::string::npos) << log;
        EXPECT_EQ(std::system(("diff -r -x Data -x PelorinCert.pem '" + tree + "' '" +
                               installation.rootDir + "' >&2")
                                  .c_str()),
                  0)
            << "kill " << kill << ": the installation is not 1.1 whole";
    }
    std::cout << kills << " kills in a " << window / 1000 << " ms copy: the next run undid "
              << undone << " and completed " << completed << "\n";
}

// Two updaters started together never both run; the installation stays one release, whole.
TEST(EndToEndFaults, TwoUpdatersStartedTogetherNeverBothRun) {
    TestServer server;
    const std::string list = "Version = 1.0\n" + server.url("/") + "\n";
    server.putFile("/ServerList.lst", list);
    const std::string package = server.putFile("/Pelorin.msi", readFile(samplePackage("1.1")));
    server.putFile("/Win/UpdateWin.xml", manifest("1.1", server, hashFileToHex(package), "1.0"));
    for (int attempt = 0; attempt < 5; ++attempt) {
        Installation installation;
        layOut(installation, list, "1.0");
        const std::string updater = installation.root.path() + "/bin/PelorinAutoUpdate";
        fs::create_directories(installation.root.path() + "/bin");
        fs::copy_file(PELORIN_UPDATER_EXE, updater);
        const std::size_t requestsBefore = server.requests().size();
        const pid_t first = installation.startUpdater({}, {}, updater);
        const pid_t second = installation.startUpdater({}, {}, updater);
        EXPECT_EQ(installation.finishUpdater(first).exitCode, 0);
        const UpdaterRun secondRun = installation.finishUpdater(second);
        EXPECT_EQ(secondRun.exitCode, 0);
        // One run asks for the manifest and the package, once each.
        const std::size_t requests = server.requests().size() - requestsBefore;
        EXPECT_TRUE(requests == 0 || requests == 2) << requests << " requests";
        EXPECT_EQ(installedRelease(installation), requests ? "1.1" : "1.0");
        EXPECT_EQ(requests ? logIsComplete(secondRun.log) : secondRun.log.empty(), true)
            << secondRun.log;
    }
}
