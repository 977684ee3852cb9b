// Peak memory of whole runs of the built PelorinAutoUpdate (the release build,
// when built with the release preset) against bodies without end, beside a
// run against a small manifest: each body goes to its file up to its cap and
// never to memory, so the peaks should be alike and well under 32 MiB. The
// peak is the child's ru_maxrss as GNU time reads it through wait4: a child
// forked from this program would start with this program's pages counted.
//
// endless_body_bench
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "support/installation.h"
#include "support/test_server.h"
#include "transfer/file_hash.h"

namespace fs = std::filesystem;

namespace {

struct Case {
    const char* name;
    const char* path;  // the body without end, or nothing
    const char* rule;
};

const Case cases[] = {
    {"small manifest (up to date)", nullptr, nullptr},
    {"manifest announcing 1 TiB", "/Win/UpdateWin.xml", R"({"endless": true})"},
    {"manifest without length or end (1 MiB cap)", "/Win/UpdateWin.xml",
     R"({"endless": true, "chunked": true})"},
    {"server list without length or end (8 MiB cap)", "/ServerList.lst",
     R"({"endless": true, "chunked": true})"},
};

std::string manifestNaming(const TestServer& server) {
    return "<Update><AppId>com.halvornesys.pelorin</AppId><Predicate>Version &lt; 1.0</Predicate>"
           "<Listversion>2.0</Listversion><Listfile>" +
           server.url("/ServerList.lst") + "</Listfile><Listhash>" + std::string(40, '0') +
           "</Listhash></Update>\n";
}

// The peak in MiB of one run; the run's last lines go to `outcome`.
double peakOfRun(Installation& installation, std::string& outcome) {
    const std::string peakFile = installation.root.path() + "/peak";
    const UpdaterRun run = installation.finishUpdater(
        installation.startUpdater({}, {"/usr/bin/time", "-f", "%M", "-o", peakFile}));
    const std::vector<std::string> lines = Installation::bodyLines(run.log);
    outcome = lines.size() >= 4 ? lines[lines.size() - 4] : "(no log)";
    return std::atof(readFile(peakFile).c_str()) / 1024;
}

int runBench() {
    if (!fs::exists("/usr/bin/time")) {
        std::fprintf(stderr, "endless_body_bench: needs GNU time (Debian package time)\n");
        return 1;
    }
    TestServer server;
    std::printf("Peak memory of whole runs of %s\n\n", PELORIN_UPDATER_EXE);
    for (const Case& run : cases) {
        Installation installation;
        installation.layOutComplete();
        fs::copy_file(TestServer::caBundlePath(), installation.applicationDir + "/PelorinCert.pem",
                      fs::copy_options::overwrite_existing);
        installation.writeFile(installation.dataDir + "/ServerList.lst",
                               "Version = 1.0\n" + server.url("/") + "\n");
        server.putFile("/Win/UpdateWin.xml", manifestNaming(server));
        server.clearRule("/Win/UpdateWin.xml");
        server.clearRule("/ServerList.lst");
        if (run.path) server.setRule(run.path, run.rule);
        std::string outcome;
        const double peak = peakOfRun(installation, outcome);
        std::printf("%-48s %6.2f MiB   (%s)\n", run.name, peak, outcome.c_str());
    }
    std::printf("\nGoal: every peak under 32 MiB\n");
    return 0;
}

}  // namespace

int main() {
    try {
        return runBench();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "endless_body_bench: %s\n", failure.what());
        return 1;
    }
}
