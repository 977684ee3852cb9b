#include "e2e/scenario_runner.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include "e2e/file_mirror.h"
#include "e2e/log_match.h"
#include "e2e/sample_packages.h"
#include "platform/platform.h"
#include "support/loopback_socket.h"
#include "support/test_server.h"
#include "transfer/file_hash.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto watchInterval = std::chrono::milliseconds(20);
// A rule limited to its first requests is lifted this long after the last of
// them arrived. The server reads its rules right after it has logged a
// request, so by then the rule has been applied to that request; the rule's
// own delay_ms must hold that request longer still, so that the next request
// finds the rule gone.
constexpr auto ruleLiftDelay = std::chrono::milliseconds(500);
// A browser is closed after this long even when the run never unpacks, so
// that such a run cannot wait for it without end.
constexpr auto browserLifeLimit = std::chrono::seconds(60);

const std::vector<std::string> logHeader = {
    "*************** PelorinAutoUpdate [2.5] **************", "", "Started at: <any>."};

// A scenario server: a running HTTPS test server, an FTP or SFTP mirror, a
// port that takes connections and never answers, or a port where nothing
// listens.
struct Host {
    std::unique_ptr<TestServer> server;
    std::unique_ptr<FileMirror> mirror;
    std::unique_ptr<LoopbackSocket> silentListener;
    std::string baseUrl;  // "https://localhost:PORT", or the mirror's

    // Where the served files lie; empty when nothing is served.
    std::string rootDir() const {
        if (server) return server->rootDir();
        return mirror ? mirror->rootDir() : std::string();
    }
};
using Hosts = std::map<std::string, Host>;

ServerCert certKind(const std::string& name) {
    if (name == "Good") return ServerCert::Good;
    if (name == "ForeignCa") return ServerCert::ForeignCa;
    if (name == "WrongHost") return ServerCert::WrongHost;
    throw std::runtime_error("unknown certificate kind " + name);
}

FileMirror::Protocol mirrorProtocol(const std::string& name) {
    return name == "ftp" ? FileMirror::Protocol::Ftp : FileMirror::Protocol::Sftp;
}

// `clientHome` is the updater's HOME, where an SFTP mirror leaves its key.
Hosts startHosts(const Scenario& scenario, const std::string& clientHome) {
    Hosts hosts;
    for (const ScenarioServer& described : scenario.servers) {
        Host host;
        if (described.protocol != "https") {
            if (described.unreachable || described.name == "main") {
                throw std::runtime_error("the mirror " + described.name +
                                         " must be reachable and not the main server");
            }
            host.mirror =
                std::make_unique<FileMirror>(mirrorProtocol(described.protocol), clientHome);
            host.baseUrl = host.mirror->baseUrl();
            hosts.emplace(described.name, std::move(host));
            continue;
        }
        const int fixedPort = described.name == "main" ? mainServerPort() : 0;
        int port = fixedPort;
        if (described.silent) {
            host.silentListener = std::make_unique<LoopbackSocket>();
            port = bindLoopback(*host.silentListener, port, true, "a server that does not answer");
        } else if (described.unreachable) {
            // A port that was free a moment ago and that no one listens on.
            if (port == 0)
                port = bindLoopback(LoopbackSocket(), 0, false, "a server that does not answer");
        } else {
            host.server = std::make_unique<TestServer>(certKind(described.cert), fixedPort);
            port = host.server->port();
        }
        host.baseUrl = "https://localhost:" + std::to_string(port);
        if (!hosts.emplace(described.name, std::move(host)).second) {
            throw std::runtime_error("two servers named " + described.name);
        }
    }
    return hosts;
}

// Fills in the ${...} placeholders of scenario texts: ${NAME} is a server's
// base URL, ${rootDir} and its siblings are the installation's directories,
// ${sha1:NAME/PATH} and ${sha1lower:NAME/PATH} the hash of a file the server
// NAME serves at PATH (written earlier in the scenario).
class Placeholders {
public:
    Placeholders(const Installation& installation, const UpdaterTarget& target, const Hosts& hosts)
        : target_(target), hosts_(hosts) {
        directories_ = {{"rootDir", installation.rootDir},
                        {"installDir", installation.installDir},
                        {"applicationDir", installation.applicationDir},
                        {"updateDir", installation.updateDir},
                        {"dataDir", installation.dataDir}};
    }

    // Paths come out as the updater names them when `updaterView` is set,
    // as native paths otherwise.
    std::string expand(const std::string& text, bool updaterView) const {
        std::string result;
        std::string::size_type start = 0;
        for (;;) {
            const std::string::size_type open = text.find("${", start);
            if (open == std::string::npos) break;
            const std::string::size_type close = text.find('}', open);
            if (close == std::string::npos) throw std::runtime_error("unclosed ${ in: " + text);
            result += text.substr(start, open - start);
            result += value(text.substr(open + 2, close - open - 2), updaterView);
            start = close + 1;
        }
        return result + text.substr(start);
    }

private:
    std::string value(const std::string& key, bool updaterView) const {
        if (key.rfind("sha1:", 0) == 0) return servedFileHash(key.substr(5));
        if (key.rfind("sha1lower:", 0) == 0) {
            std::string hash = servedFileHash(key.substr(10));
            for (char& c : hash) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return hash;
        }
        const auto directory = directories_.find(key);
        if (directory != directories_.end()) {
            return updaterView ? target_.updaterPath(directory->second) : directory->second;
        }
        const auto host = hosts_.find(key);
        if (host != hosts_.end()) return host->second.baseUrl;
        throw std::runtime_error("unknown placeholder ${" + key + "}");
    }

    std::string servedFileHash(const std::string& where) const {
        const std::string::size_type slash = where.find('/');
        const auto host = hosts_.find(where.substr(0, slash));
        if (slash == std::string::npos || host == hosts_.end() || host->second.rootDir().empty()) {
            throw std::runtime_error("no served file " + where);
        }
        const std::string hash = hashFileToHex(host->second.rootDir() + where.substr(slash));
        if (hash.empty()) throw std::runtime_error("no served file " + where + " (yet)");
        return hash;
    }

    const UpdaterTarget& target_;
    const Hosts& hosts_;
    std::map<std::string, std::string> directories_;
};

struct LimitedRule {
    TestServer* server;
    std::string path;
    int requests;
};

std::string servedContent(const ServedFile& file, const Placeholders& placeholders) {
    return file.release.empty()
               ? placeholders.expand(file.content, true)
               : readFile(samplePackage(file.release,
                                        file.lowerCaseProgramFolder ? "--lower-case-folder" : ""));
}

// Puts every server's files and rules in place, in the scenario's order;
// gives the rules that hold for the first requests only.
std::vector<LimitedRule> publish(const Scenario& scenario, const Hosts& hosts,
                                 const Placeholders& placeholders) {
    std::vector<LimitedRule> limited;
    for (const ScenarioServer& described : scenario.servers) {
        const Host& host = hosts.at(described.name);
        if (host.mirror) {
            if (!described.rules.empty()) {
                throw std::runtime_error("the mirror " + described.name + " knows no rules");
            }
            for (const ServedFile& file : described.files) {
                host.mirror->putFile(file.path, servedContent(file, placeholders));
            }
            continue;
        }
        TestServer* server = host.server.get();
        if (!server) {
            if (described.files.empty() && described.rules.empty()) continue;
            throw std::runtime_error("the server " + described.name + " serves nothing");
        }
        for (const ServedFile& file : described.files) {
            server->putFile(file.path, servedContent(file, placeholders));
        }
        for (const ServerRule& rule : described.rules) {
            server->setRule(rule.path, rule.json);
            if (rule.requests > 0) limited.push_back({server, rule.path, rule.requests});
        }
    }
    return limited;
}

// A process that the updater takes for a running browser.
class BrowserProcess {
public:
    explicit BrowserProcess(const std::vector<std::string>& command) {
        std::vector<char*> argv;
        for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        const fs::path testProgram = fs::read_symlink("/proc/self/exe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        // Until exec has happened the child still bears the test program's name.
        const std::string exeLink = "/proc/" + std::to_string(pid_) + "/exe";
        for (int attempt = 0; attempt < 200; ++attempt) {
            std::error_code error;
            const fs::path running = fs::read_symlink(exeLink, error);
            if (!error && running != testProgram) break;
            ::usleep(10000);
        }
    }
    ~BrowserProcess() { close(); }
    BrowserProcess(const BrowserProcess&) = delete;
    BrowserProcess& operator=(const BrowserProcess&) = delete;

    void close() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// What happens while the updater runs: rules limited to their first requests
// are lifted, and the browser closes a while after the unpack has finished.
class RunWatch {
public:
    RunWatch(std::vector<LimitedRule> rules, BrowserProcess* browser, int browserSeconds,
             std::string stagedPackage)
        : rules_(std::move(rules)),
          browser_(browser),
          browserSeconds_(browserSeconds),
          stagedPackage_(std::move(stagedPackage)),
          thread_([this] { watch(); }) {}
    ~RunWatch() {
        running_ = false;
        thread_.join();
    }
    RunWatch(const RunWatch&) = delete;
    RunWatch& operator=(const RunWatch&) = delete;

private:
    static int requestsTo(const LimitedRule& rule) {
        try {
            const std::vector<ReceivedRequest> received = rule.server->requests();
            return static_cast<int>(
                std::count_if(received.begin(), received.end(),
                              [&](const ReceivedRequest& r) { return r.path == rule.path; }));
        } catch (const std::runtime_error&) {
            return 0;  // a request line half written; read again next time
        }
    }

    void watch() {
        std::vector<std::optional<Clock::time_point>> liftAt(rules_.size());
        std::vector<bool> lifted(rules_.size(), false);
        Clock::time_point browserCloseAt = Clock::now() + browserLifeLimit;
        bool unpacked = false;
        while (running_) {
            const Clock::time_point now = Clock::now();
            for (std::size_t i = 0; i < rules_.size(); ++i) {
                if (lifted[i]) continue;
                if (!liftAt[i] && requestsTo(rules_[i]) >= rules_[i].requests) {
                    liftAt[i] = now + ruleLiftDelay;
                }
                if (liftAt[i] && now >= *liftAt[i]) {
                    rules_[i].server->clearRule(rules_[i].path);
                    lifted[i] = true;
                }
            }
            if (browser_ && !unpacked && fs::exists(stagedPackage_)) {
                unpacked = true;
                browserCloseAt =
                    std::min(browserCloseAt, now + std::chrono::seconds(browserSeconds_));
            }
            if (browser_ && now >= browserCloseAt) browser_->close();
            std::this_thread::sleep_for(watchInterval);
        }
    }

    std::vector<LimitedRule> rules_;
    BrowserProcess* browser_;
    int browserSeconds_;
    std::string stagedPackage_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

void checkLog(const Scenario& scenario, const UpdaterRun& run, const Placeholders& placeholders) {
    std::vector<std::string> expected = logHeader;
    for (const std::string& line : scenario.expectedLog) {
        expected.push_back(placeholders.expand(line, true));
    }
    const std::string difference = logDifference(expected, linesOf(run.log));
    if (!difference.empty()) ADD_FAILURE() << difference;
}

void checkFiles(const Scenario& scenario, const UpdaterTarget& target,
                const Placeholders& placeholders) {
    for (const ExpectedFile& expected : scenario.expectedFiles) {
        // Without regard to letter case, as Windows looks: msitools and the
        // Windows Installer write the package's folders in different cases.
        const std::string path =
            platform::pathIgnoringCase(placeholders.expand(expected.path, false));
        const fs::file_status status = fs::symlink_status(path);
        switch (expected.kind) {
            case ExpectedFile::Kind::Content:
                EXPECT_TRUE(fs::is_regular_file(status)) << path << " is no file";
                EXPECT_EQ(target.readText(path), placeholders.expand(expected.content, true))
                    << "content of " << path;
                break;
            case ExpectedFile::Kind::Directory:
                EXPECT_TRUE(fs::is_directory(status)) << path << " is no directory";
                break;
            case ExpectedFile::Kind::Absent:
                EXPECT_FALSE(fs::exists(status)) << path << " is still there";
                break;
        }
    }
}

}  // namespace

int mainServerPort() {
    const std::string url = PELORIN_MAIN_MANIFEST_URL;
    const std::string prefix = "https://localhost:";
    const std::string suffix = "/Win/UpdateWin.xml";
    if (url.rfind(prefix, 0) != 0 || url.size() <= prefix.size() + suffix.size() ||
        url.compare(url.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return 0;
    }
    const std::string port = url.substr(prefix.size(), url.size() - prefix.size() - suffix.size());
    if (port.find_first_not_of("0123456789") != std::string::npos) return 0;
    return std::stoi(port);
}

void replayScenario(const Scenario& scenario, UpdaterTarget& target) {
    Installation installation;
    target.layOut(installation, scenario.installedVersion);
    const Hosts hosts = startHosts(scenario, installation.homeDir);
    fs::copy_file(TestServer::caBundlePath(), installation.applicationDir + "/PelorinCert.pem",
                  fs::copy_options::overwrite_existing);
    const Placeholders placeholders(installation, target, hosts);
    std::vector<LimitedRule> limitedRules = publish(scenario, hosts, placeholders);
    for (const InstallationFile& file : scenario.installationFiles) {
        installation.writeFile(placeholders.expand(file.path, false),
                               placeholders.expand(file.content, true));
    }

    std::unique_ptr<BrowserProcess> browser;
    if (scenario.browserClosesAfterUnpackSeconds >= 0) {
        const std::string scratchDir = installation.root.path() + "/browser";
        fs::create_directories(scratchDir);
        browser = std::make_unique<BrowserProcess>(target.browserCommand(scratchDir));
    }
    RunConditions conditions{scenario.volumes, scenario.transferTimeouts};
    for (Volume& volume : conditions.volumes) volume.path = placeholders.expand(volume.path, false);
    UpdaterRun run;
    {
        RunWatch watch(std::move(limitedRules), browser.get(),
                       scenario.browserClosesAfterUnpackSeconds,
                       installation.updateDir + "/Pelorin.msi");
        run = target.runUnder(installation, conditions);
    }
    browser.reset();
    if (!run.notRun.empty()) GTEST_SKIP() << run.notRun;

    EXPECT_EQ(run.exitCode, 0) << "the updater's exit code";
    checkLog(scenario, run, placeholders);
    checkFiles(scenario, target, placeholders);
}
