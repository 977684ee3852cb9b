#include "e2e/scenario_runner.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "e2e/sample_packages.h"
#include "platform/platform.h"
#include "publish/delta_writer.h"
#include "publish/package_check.h"
#include "publish/release_signing.h"
#include "support/child_process.h"
#include "support/loopback_socket.h"
#include "support/test_server.h"
#include "transfer/file_hash.h"
#include "transfer/file_sha256.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Element = const TiXmlElement*;
using Words = std::vector<std::string>;

namespace {

const std::string scenariosDir = PELORIN_SOURCE_DIR "/tests/e2e/scenarios";

template <typename Each>
void forChildren(Element parent, Each each) {
    for (Element child = parent ? parent->FirstChildElement() : nullptr; child;
         child = child->NextSiblingElement())
        each(child, std::string(child->Value()));
}

std::string attr(Element element, const char* name, const std::string& fallback = "") {
    return element->Attribute(name) ? element->Attribute(name) : fallback;
}

// CDATA keeps white space; a line end right after "<![CDATA[" is not text.
std::string textOf(Element element) {
    const std::string text = element && element->GetText() ? element->GetText() : "";
    return text.rfind('\n', 0) == 0 ? text.substr(1) : text;
}

// \r, \n and \xHH for bytes a scenario file cannot hold.
std::string unescaped(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char kind = text[i] == '\\' && i + 1 < text.size() ? text[++i] : '\0';
        bytes += kind == 'x'   ? static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16))
                 : kind == 'r' ? '\r'
                 : kind == 'n' ? '\n'
                               : text[i];
        i += kind == 'x' ? 2 : 0;
    }
    return bytes;
}

// An FTP or SFTP mirror on 127.0.0.1; sshd lets in the key it leaves in `clientHome`/.ssh.
struct Mirror {
    TempDir dir;
    std::string root = dir.path() + "/root", out = dir.path() + "/out", baseUrl;
    pid_t pid = -1;

    Mirror(const std::string& protocol, const std::string& clientHome) {
        fs::create_directories(root);
        const std::string tools = PELORIN_SOURCE_DIR "/tools/update_server/";
        const std::string port = std::to_string(bindLoopback(LoopbackSocket(), 0, false, "sshd"));
        pid = spawn(protocol == "ftp"    ? Words{"/usr/bin/python3", tools + "ftp_server.py", root,
                                              dir.path() + "/port"}
                    : protocol == "http" ? Words{"/usr/bin/python3", "-u", "-m", "http.server",
                                                 "-b", "127.0.0.1", "-d", root, port}
                                         : Words{"/bin/sh", tools + "sftp_server.sh",
                                                 dir.path() + "/sshd", port, clientHome},
                    out);
        for (const auto limit = Clock::now() + 30s; baseUrl.empty();
             std::this_thread::sleep_for(20ms)) {
            if (protocol == "ftp" && fs::exists(dir.path() + "/port"))
                baseUrl = "ftp://localhost:" + readFile(dir.path() + "/port");
            if (protocol == "http" && readFile(out).find("Serving HTTP") != std::string::npos)
                baseUrl = "http://127.0.0.1:" + port;
            if (protocol == "sftp" && readFile(out).find("Server listening") != std::string::npos)
                baseUrl = "sftp://" + std::string(::getpwuid(::getuid())->pw_name) +
                          "@localhost:" + port + root;
            if (baseUrl.empty() && (hasEnded(pid) || Clock::now() > limit)) {
                stopChild(pid);
                throw std::runtime_error("the mirror did not come up:\n" + readFile(out));
            }
        }
    }
    ~Mirror() { stopChild(pid); }
};

// The HTTPS test server, a mirror, a port that never answers or one where nothing listens.
struct Host {
    std::unique_ptr<TestServer> server;
    std::unique_ptr<Mirror> mirror;
    std::unique_ptr<LoopbackSocket> silent;
    std::string baseUrl;
    std::string root() const { return server ? server->rootDir() : mirror ? mirror->root : ""; }

    Host(Element element, const std::string& clientHome) {
        const std::string cert = attr(element, "cert");
        if (attr(element, "protocol", "https") != "https") {
            mirror = std::make_unique<Mirror>(attr(element, "protocol"), clientHome);
            baseUrl = mirror->baseUrl;
            return;
        }
        int port = attr(element, "name") == "main" ? mainServerPort() : 0;
        if (attr(element, "handshake") == "never") {
            silent = std::make_unique<LoopbackSocket>();
            port = bindLoopback(*silent, port, true, "a server that never answers");
        } else if (attr(element, "unreachable") == "true") {
            if (!port) port = bindLoopback(LoopbackSocket(), 0, false, "a port nobody listens on");
        } else {
            server = std::make_unique<TestServer>(cert == "ForeignCa"   ? ServerCert::ForeignCa
                                                  : cert == "WrongHost" ? ServerCert::WrongHost
                                                                        : ServerCert::Good,
                                                  port);
            port = server->port();
        }
        baseUrl = "https://localhost:" + std::to_string(port);
    }
};

// tinyproxy in the foreground on a free loopback port, its log in a folder of
// its own; with `unreachable`, a port where nothing listens; with `basicAuth`
// ("USER PASSWORD"), only for that user; with `tls`, spoken to over TLS
// (socat in front, the test CA's certificate, which no system trusts); with
// `demands` ("Negotiate NTLM"), a proxy of the kit that admits no one and
// logs the scheme of any credentials offered.
struct Proxy {
    TempDir dir;
    int port = bindLoopback(LoopbackSocket(), 0, false, "a proxy");
    bool tls = false;
    pid_t pid = -1, tlsPid = -1;
    std::string url() const {
        return (tls ? "https" : "http") + std::string("://127.0.0.1:") + std::to_string(port);
    }

    explicit Proxy(Element element) : tls(attr(element, "tls") == "true") {
        if (attr(element, "unreachable") == "true") return;
        const int innerPort = tls ? bindLoopback(LoopbackSocket(), 0, false, "a proxy") : port;
        if (tls) {
            const std::string cert = TestServer::caBundlePath();
            const std::string base = cert.substr(0, cert.size() - 6) + "server";
            tlsPid = spawn({"/usr/bin/socat",
                            "OPENSSL-LISTEN:" + std::to_string(port) +
                                ",bind=127.0.0.1,reuseaddr,fork,verify=0,cert=" + base +
                                ".pem,key=" + base + ".key",
                            "TCP:127.0.0.1:" + std::to_string(innerPort)},
                           dir.path() + "/socat.out");
        }
        if (!attr(element, "demands").empty()) {
            Words command = {"/usr/bin/python3",
                             PELORIN_SOURCE_DIR "/tools/update_server/auth_proxy.py",
                             std::to_string(port), dir.path() + "/access.log"};
            std::istringstream schemes(attr(element, "demands"));
            for (std::string scheme; schemes >> scheme;) command.push_back(scheme);
            pid = spawn(command, dir.path() + "/out");
        } else {
            std::ofstream(dir.path() + "/tinyproxy.conf")
                << "Port " << innerPort << "\nListen 127.0.0.1\nTimeout 60\nLogLevel Info\n"
                << "LogFile \"" << dir.path() << "/access.log\"\nAllow 127.0.0.1\n"
                << (attr(element, "basicAuth").empty()
                        ? ""
                        : "BasicAuth " + attr(element, "basicAuth") + "\n");
            pid = spawn({"/usr/bin/tinyproxy", "-d", "-c", dir.path() + "/tinyproxy.conf"},
                        dir.path() + "/out");
        }
        for (const auto limit = Clock::now() + 30s;
             readFile(dir.path() + "/access.log").find("Accepting connections") ==
             std::string::npos;
             std::this_thread::sleep_for(20ms)) {
            if (hasEnded(pid) || Clock::now() > limit) {
                stopChild(std::exchange(pid, -1));
                throw std::runtime_error("no proxy:\n" + readFile(dir.path() + "/out"));
            }
        }
        for (const auto limit = Clock::now() + 30s; tls && !accepting(port);
             std::this_thread::sleep_for(20ms)) {
            if (hasEnded(tlsPid) || Clock::now() > limit)
                throw std::runtime_error("no socat:\n" + readFile(dir.path() + "/socat.out"));
        }
    }
    static bool accepting(int port) {
        LoopbackSocket probe;
        sockaddr_in address{
            AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
        return ::connect(probe.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Proxy() {
        if (pid > 0) stopChild(pid);
        if (tlsPid > 0) stopChild(tlsPid);
    }
    // The request lines it received, in order, without their HTTP version.
    std::vector<std::string> requests() const {
        std::vector<std::string> lines;
        static const std::regex request(
            R"(Request(?: \(file descriptor [0-9]+\))?: (.*?)(?: HTTP/1\.[01])?$)");
        std::smatch match;
        for (const std::string& line : linesOf(readFile(dir.path() + "/access.log")))
            if (std::regex_search(line, match, request)) lines.push_back(match[1]);
        return lines;
    }
};

// The processes whose name (cut to 15 characters, as the kernel keeps it) is `name`.
std::vector<pid_t> processesNamed(const std::string& name) {
    std::vector<pid_t> found;
    // Processes end while the list is read: an entry that vanishes is skipped.
    std::error_code error;
    for (fs::directory_iterator entry("/proc", error), end; !error && entry != end;
         entry.increment(error))
        if (readFile(entry->path().string() + "/comm") == name.substr(0, 15) + "\n")
            found.push_back(std::atoi(entry->path().filename().c_str()));
    return found;
}

// Every entry below `dir`, a line each: its kind, and a file's size and SHA-1.
std::string treeListing(const std::string& dir) {
    std::vector<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = fs::relative(entry.path(), dir).generic_string();
        lines.push_back(entry.is_symlink()        ? name + " (link)"
                        : entry.is_directory()    ? name + "/"
                        : entry.is_regular_file() ? name + " " + hashFileToHex(entry.path())
                                                  : name + " (other)");
    }
    std::sort(lines.begin(), lines.end());
    std::string listing;
    for (const std::string& line : lines) listing += line + "\n";
    return listing;
}

}  // namespace

UpdaterRun UpdaterTarget::run(Installation& installation, const RunConditions& conditions) {
    std::vector<std::string> launcher = {"/usr/bin/env"};
    launcher.insert(launcher.end(), conditions.environment.begin(), conditions.environment.end());
    if (!conditions.peakMemoryFile.empty()) {
        // Without AddressSanitizer's quarantine, which would count every freed buffer.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string options = "ASAN_OPTIONS=" + std::string(asan ? asan : "");
        launcher.insert(launcher.begin(),
                        {"/usr/bin/time", "-f%M", "-o" + conditions.peakMemoryFile, "/usr/bin/env",
                         options + ":quarantine_size_mb=0"});
    }
    launcher.insert(launcher.end(), conditions.launcher.begin(), conditions.launcher.end());
    UpdaterRun run = installation.finishUpdater(
        installation.startUpdater({}, launcher, installation.installDir + "/PelorinAutoUpdate"));
    if (run.exitCode == 77) run.notRun = "no mount namespace for the volumes";
    return run;
}

void UpdaterTarget::layOut(Installation& at, const std::string& version) {
    at.layOutComplete(version);
    fs::copy_file(PELORIN_UPDATER_EXE, at.installDir + "/PelorinAutoUpdate",
                  fs::copy_options::overwrite_existing);
}

bool UpdaterTarget::useSignedUpdater(Installation& at) {
    fs::copy_file(PELORIN_SIGNED_UPDATER_EXE, at.installDir + "/PelorinAutoUpdate",
                  fs::copy_options::overwrite_existing);
    return true;
}

std::string UpdaterTarget::releaseUpdateFolder() {
    static const TempDir folder;
    if (!fs::exists(folder.path() + "/PelorinAutoUpdate")) {
        fs::copy_file(PELORIN_UPDATER_EXE, folder.path() + "/PelorinAutoUpdate");
        fs::copy_file(PELORIN_SOURCE_DIR "/tools/bundle/BatchLauncher.sh",
                      folder.path() + "/BatchLauncher.sh");
    }
    return folder.path();
}

// The updater knows the browser by its executable's file name alone.
std::vector<std::string> UpdaterTarget::browserCommand(const std::string& dir) {
    fs::copy_file("/bin/sleep", dir + "/Pelorin", fs::copy_options::overwrite_existing);
    return {dir + "/Pelorin", "600"};
}

// What the Update folder of a keyed build's releases holds: the target's, with
// the keyed updater the installation runs.
std::string keyedUpdateFolder(const std::string& releaseFolder, const std::string& installDir) {
    static const TempDir keyedFolder;
    for (const auto& entry : fs::directory_iterator(releaseFolder)) {
        const std::string name = entry.path().filename().string();
        const bool updater = name.rfind("PelorinAutoUpdate", 0) == 0;
        fs::copy_file(updater ? installDir + "/" + name : entry.path().string(),
                      keyedFolder.path() + "/" + name, fs::copy_options::overwrite_existing);
    }
    return keyedFolder.path();
}

// The release's program tree over the installation, as its install left it.
void installRelease(const std::string& package, const std::string& rootDir) {
    const TempDir unpacked;
    std::string tree;
    const std::string problem = unpackProgramTree(package, unpacked.path(), tree);
    if (!problem.empty()) throw std::runtime_error(problem);
    fs::copy(tree, rootDir, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

// The delta between two sample releases; `corrupt`: its last frame's header
// spoilt, so that its hashes hold and its patch does not apply.
void writeSampleDelta(const std::string& from, const std::string& to, const std::string& options,
                      const std::string& path, bool corrupt) {
    std::string fromVersion;
    fs::create_directories(fs::path(path).parent_path());
    const std::string problem = writePackageDelta(samplePackage(from, options),
                                                  samplePackage(to, options), path, fromVersion);
    if (!problem.empty()) throw std::runtime_error(problem);
    std::string bytes = readFile(path);
    if (corrupt) bytes[bytes.rfind("\x28\xb5\x2f\xfd") + 4] ^= 0xff;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

bool lineMatches(const std::string& expected, const std::string& actual) {
    if (expected.find('<') == std::string::npos) return expected == actual;
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])"), any("<any>"), seconds("<seconds>");
    std::string pattern = std::regex_replace(expected, special, R"(\$&)");
    pattern = std::regex_replace(pattern, any, ".+");
    pattern = std::regex_replace(pattern, seconds, "[0-9]+\\.[0-9][0-9]");
    return std::regex_match(actual, std::regex(pattern));
}

std::string logDifference(const std::vector<std::string>& expected,
                          const std::vector<std::string>& actual) {
    std::size_t line = 0;
    while (line < expected.size() && line < actual.size() &&
           lineMatches(expected[line], actual[line]))
        ++line;
    if (line == expected.size() && line == actual.size()) return "";
    std::string report = "The logs differ from line " + std::to_string(line + 1) + ".\nExpected:\n";
    for (const std::string& text : expected) report += "  " + text + "\n";
    report += "Actual:\n";
    for (const std::string& text : actual) report += "  " + text + "\n";
    return report;
}

std::vector<std::string> scenarioNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(scenariosDir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int mainServerPort() {
    static const std::string url = PELORIN_MAIN_MANIFEST_URL;
    std::smatch port;
    const std::regex local(R"(https://localhost:([0-9]+)/Win/UpdateWin\.xml)");
    return std::regex_match(url, port, local) ? std::stoi(port[1]) : 0;
}

void replayScenario(const std::string& name, UpdaterTarget& target, double* peakMiB) {
    const std::string file = scenariosDir + "/" + name + "/scenario.xml";
    TiXmlDocument document(file.c_str());
    if (!document.LoadFile() || !document.RootElement()->FirstChildElement("Installation"))
        throw std::runtime_error(file + ": no <Installation>: " + document.ErrorDesc());
    const Element scenario = document.RootElement();
    const Element installed = scenario->FirstChildElement("Installation");
    // Growth over the same build's peak on another scenario, replayed first: the
    // sanitizers' and the machine's own share is in both figures.
    const double growthLimit = std::stod(attr(scenario, "peakMemoryGrowthBelowMiB", "0"));
    double baselinePeak = 0;
    if (growthLimit > 0)
        replayScenario(attr(scenario, "peakMemoryBaseline"), target, &baselinePeak);
    SCOPED_TRACE(textOf(scenario->FirstChildElement("Description")));
    for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);  // the updater takes the scenario's proxy only
    Installation installation(attr(installed, "level") == "System" ? Installation::Level::System
                                                                   : Installation::Level::User,
                              attr(installed, "folder", "Pelorin"));
    target.layOut(installation, attr(installed, "version"));
    const bool keyed = attr(scenario, "updater") == "signed";
    if (keyed && !target.useSignedUpdater(installation))
        GTEST_SKIP() << "no updater with the test release key for this target";
    const std::string releaseOptions =
        "--update-folder '" +
        (keyed ? keyedUpdateFolder(target.releaseUpdateFolder(), installation.installDir)
               : target.releaseUpdateFolder()) +
        "'";
    if (!attr(installed, "release").empty())
        installRelease(samplePackage(attr(installed, "release"), releaseOptions),
                       installation.rootDir);
    std::map<std::string, Host> hosts;
    std::map<std::string, Proxy> proxies;
    forChildren(scenario, [&](Element element, const std::string& kind) {
        if (kind == "Server")
            hosts.try_emplace(attr(element, "name"), element, installation.homeDir);
        if (kind == "Proxy") proxies.try_emplace(attr(element, "name"), element);
    });
    fs::copy_file(TestServer::caBundlePath(), installation.applicationDir + "/PelorinCert.pem",
                  fs::copy_options::overwrite_existing);
    const std::map<std::string, std::string> dirs = {
        {"rootDir", installation.rootDir},
        {"installDir", installation.installDir},
        {"updateDir", installation.updateDir},
        {"applicationDir", installation.applicationDir},
        {"dataDir", installation.dataDir}};
    // ${NAME}: a server's base URL or a proxy's URL; ${port:NAME}: its port;
    // ${sha1:NAME/PATH}, ${sha1lower:NAME/PATH}, ${sha256:NAME/PATH}: a served file's hash;
    // ${size:NAME/PATH}: its size;
    // directories as the updater names them or native.
    const auto value = [&](const std::string& key, bool updaterView) {
        const std::string named = key.substr(key.find(':') + 1);
        if (key.rfind("port:", 0) == 0 && proxies.count(named))
            return std::to_string(proxies.at(named).port);
        if (key.rfind("port:", 0) == 0 && hosts.count(named))
            return hosts.at(named).baseUrl.substr(hosts.at(named).baseUrl.rfind(':') + 1);
        if (proxies.count(key)) return proxies.at(key).url();
        const std::size_t colon = key.find(':') + 1, slash = key.find('/');
        if (colon && hosts.count(key.substr(colon, slash - colon))) {
            const std::string served =
                hosts.at(key.substr(colon, slash - colon)).root() + key.substr(slash);
            if (key.rfind("size:", 0) == 0) return std::to_string(fs::file_size(served));
            std::string hash =
                key.rfind("sha256:", 0) == 0 ? fileSha256Hex(served) : hashFileToHex(served);
            if (hash.empty()) throw std::runtime_error(file + ": nothing served yet at " + key);
            if (key.rfind("sha1lower:", 0) == 0)
                std::transform(hash.begin(), hash.end(), hash.begin(), ::tolower);
            return hash;
        }
        if (dirs.count(key)) return updaterView ? target.updaterPath(dirs.at(key)) : dirs.at(key);
        if (hosts.count(key)) return hosts.at(key).baseUrl;
        throw std::runtime_error(file + ": unknown placeholder ${" + key + "}");
    };
    const auto expand = [&](std::string text, bool updaterView) {
        for (std::size_t at = text.find("${"); at != std::string::npos; at = text.find("${", at)) {
            const std::size_t close = text.find('}', at);
            const std::string replacement = value(text.substr(at + 2, close - at - 2), updaterView);
            text.replace(at, close - at + 1, replacement);
            at += replacement.size();
        }
        return text;
    };
    forChildren(scenario, [&](Element server, const std::string& kind) {
        if (kind != "Server") return;
        const Host& host = hosts.at(attr(server, "name"));
        forChildren(server, [&](Element element, const std::string& child) {
            const std::string path = attr(element, "path"), text = textOf(element);
            if (child == "Rule" && host.server) {
                host.server->setRule(path, text);
            } else if (child == "Package" && !host.root().empty()) {
                const bool lowerCase = attr(element, "programFolder") == "lower-case";
                // The script's small stand-ins, where the package's size counts.
                const std::string updateFolder =
                    attr(element, "updateFolder") == "stand-ins" ? "" : releaseOptions;
                const std::string package =
                    samplePackage(attr(element, "release"),
                                  (lowerCase ? "--lower-case-folder " : "") + updateFolder,
                                  std::stoul(attr(element, "payloadBytes", "0")));
                installation.writeFile(host.root() + path, readFile(package));
            } else if (child == "Delta" && !host.root().empty()) {
                writeSampleDelta(attr(element, "from"), attr(element, "release"), releaseOptions,
                                 host.root() + path, attr(element, "corrupt") == "true");
            } else if (child == "Signature" && !host.root().empty()) {
                // Over the file this server serves at `of`, with a test key.
                std::string signature;
                const std::string problem = signRelease(
                    PELORIN_SOURCE_DIR "/tests/e2e/release_keys/" + attr(element, "key") + ".pem",
                    readFile(host.root() + attr(element, "of")),
                    std::stoull(attr(element, "serial")),
                    std::time(nullptr) + 86400 * std::stoll(attr(element, "expiresInDays")),
                    signature);
                if (!problem.empty()) throw std::runtime_error(file + ": " + problem);
                installation.writeFile(host.root() + path, signature);
            } else if (child == "File" && !host.root().empty()) {
                const bool escapes = attr(element, "escapes") == "true";
                installation.writeFile(host.root() + path,
                                       expand(escapes ? unescaped(text) : text, true));
            } else {
                throw std::runtime_error(file + ": no <" + child + "> on this server");
            }
        });
    });
    RunConditions conditions;
    std::vector<std::string> volumes = {"/bin/bash", PELORIN_SOURCE_DIR "/tests/e2e/volumes.sh"};
    int browserSeconds = -1;
    std::vector<std::string> heldOpen;
    forChildren(installed, [&](Element element, const std::string& kind) {
        if (kind == "File") {
            // headOf="NAME/PATH" bytes="N": the first N bytes server NAME serves at PATH.
            const std::string head = attr(element, "headOf");
            const std::size_t slash = head.find('/');
            installation.writeFile(
                expand(attr(element, "path"), false),
                head.empty() ? expand(textOf(element), true)
                             : readFile(hosts.at(head.substr(0, slash)).root() + head.substr(slash))
                                   .substr(0, std::stoul(attr(element, "bytes"))));
        } else if (kind == "Fifo") {
            const std::string path = expand(attr(element, "path"), false);
            fs::create_directories(fs::path(path).parent_path());
            ::mkfifo(path.c_str(), 0644);
        } else if (kind == "HeldOpen") {
            heldOpen.push_back(expand(attr(element, "path"), false));
        } else if (kind == "Browser") {
            browserSeconds = std::stoi(attr(element, "closesSecondsAfterUnpack"));
        } else if (kind == "Volume") {
            volumes.insert(
                volumes.end(),
                // No ".." that the mount would hide.
                {"--volume", fs::path(expand(attr(element, "path"), false)).lexically_normal(),
                 installation.root.path() + "/.volume-" + std::to_string(volumes.size()),
                 attr(element, "size"), attr(element, "free", "-1"),
                 attr(element, "readOnly") == "true" ? "1" : "0", attr(element, "fullOnceWritten"),
                 attr(element, "fullAtBytes", "1")});
        } else {
            throw std::runtime_error(file + ": unknown <" + kind + "> in <Installation>");
        }
    });
    if (volumes.size() > 2) conditions.launcher = volumes, conditions.launcher.push_back("--");
    if (const Element timeouts = scenario->FirstChildElement("TransferTimeouts"))
        conditions.launcher.insert(
            conditions.launcher.end(),
            {PELORIN_CONDITIONED_RUN_EXE, attr(timeouts, "connectSeconds", "30"),
             attr(timeouts, "lowSpeedSeconds", "60")});
    bool systemProxySet = true;
    forChildren(scenario, [&](Element element, const std::string& kind) {
        if (kind == "Environment")
            conditions.environment.push_back(attr(element, "name") + "=" +
                                             expand(textOf(element), true));
        if (kind == "SystemProxy")
            systemProxySet &= target.setSystemProxy(
                attr(element, "setting") == "machine", expand(attr(element, "proxy"), true),
                attr(element, "bypass"), expand(attr(element, "script"), true));
    });
    if (!systemProxySet) GTEST_SKIP() << "no system proxy setting on this build";
    if (growthLimit > 0 || peakMiB)
        conditions.peakMemoryFile = installation.root.path() + "/peak-memory";
    std::vector<pid_t> holders;
    for (const std::string& path : heldOpen) {
        const std::string marker =
            installation.root.path() + "/held-" + std::to_string(holders.size());
        const std::vector<std::string> command = target.holderCommand(path, marker);
        if (command.empty()) GTEST_SKIP() << "no file is held open without sharing here";
        holders.push_back(spawn(command, marker + "-output"));
        for (const auto limit = Clock::now() + 60s; !fs::exists(marker) && Clock::now() < limit;)
            std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(fs::exists(marker))
            << "the holder of " << path << " never held it; its output:\n"
            << readFile(marker + "-output");
    }
    std::map<std::string, std::string> listingsBefore;
    forChildren(scenario->FirstChildElement("Files"),
                [&](Element element, const std::string& kind) {
                    const std::string path = expand(attr(element, "path"), false);
                    if (kind == "Unchanged") listingsBefore[path] = treeListing(path);
                });
    // Each <Log> is one run, in turn; the browser runs during the first.
    for (Element logged = scenario->FirstChildElement("Log"); logged;
         logged = logged->NextSiblingElement("Log"), browserSeconds = -1) {
        pid_t browser = -1;
        if (browserSeconds >= 0) {
            fs::create_directories(installation.root.path() + "/browser");
            const std::string output = installation.root.path() + "/browser-output";
            browser = spawn(target.browserCommand(installation.root.path() + "/browser"), output);
            for (const auto limit = Clock::now() + 30s;
                 processesNamed(target.browserName()).empty() && Clock::now() < limit;)
                std::this_thread::sleep_for(20ms);
            EXPECT_FALSE(hasEnded(browser)) << "the browser ended at its start; its output:\n"
                                            << readFile(output);
        }
        // The browser closes a while after the unpack copied the package, or after a minute;
        // the updater is killed once `killedOnceExists` does.
        const std::string killAt = expand(attr(logged, "killedOnceExists"), false);
        const std::uintmax_t killBytes = std::stoull(attr(logged, "killedAtBytes", "0"));
        std::error_code noSize;
        // `overwrite` is written over with the bytes a server serves at `overwriteWith`
        // ("NAME/PATH") once `overwriteOnceExists` does: someone who can write there.
        const std::string overwrite = expand(attr(logged, "overwrite"), false);
        const std::string overwriteAt = expand(attr(logged, "overwriteOnceExists"), false);
        std::string overwriteBytes;
        if (!overwrite.empty()) {
            const std::string with = attr(logged, "overwriteWith");
            overwriteBytes = readFile(hosts.at(with.substr(0, with.find('/'))).root() +
                                      with.substr(with.find('/')));
        }
        std::atomic<bool> running{true};
        std::thread watch([&] {
            auto closeAt = Clock::now() + 60s;
            for (bool unpacked = false, killed = killAt.empty(), written = overwrite.empty();
                 running && (browser > 0 || !killed || !written);
                 std::this_thread::sleep_for(1ms)) {
                if (!written && (written = fs::exists(overwriteAt)))
                    installation.writeFile(overwrite, overwriteBytes);
                if (!unpacked && (unpacked = fs::exists(installation.updateDir + "/Pelorin.msi")))
                    closeAt =
                        std::min(closeAt, Clock::now() + std::chrono::seconds(browserSeconds));
                if (browser > 0 && Clock::now() >= closeAt) stopChild(std::exchange(browser, -1));
                if (!killed && (killed = fs::file_size(killAt, noSize) >= killBytes && !noSize))
                    for (pid_t updater : processesNamed(target.updaterName()))
                        ::kill(updater, SIGKILL);
            }
        });
        const UpdaterRun run = target.run(installation, conditions);
        running = false;
        watch.join();
        if (browser > 0) stopChild(browser);
        if (!run.notRun.empty()) GTEST_SKIP() << run.notRun;
        EXPECT_EQ(run.exitCode == 0, killAt.empty()) << "the updater's exit code " << run.exitCode;
        std::vector<std::string> expected = {
            "*************** PelorinAutoUpdate [2.5] **************", "", "Started at: <any>."};
        for (const std::string& line : linesOf(textOf(logged)))
            expected.push_back(expand(line, true));
        const std::string difference = logDifference(expected, linesOf(run.log));
        EXPECT_TRUE(difference.empty()) << difference;
    }
    for (pid_t holder : holders) stopChild(holder);
    forChildren(scenario->FirstChildElement("Files"), [&](Element element,
                                                          const std::string& kind) {
        // Letter case ignored: msitools and the Windows Installer name folders differently.
        const std::string path = platform::pathIgnoringCase(expand(attr(element, "path"), false));
        const fs::file_status status = fs::symlink_status(path);
        if (kind == "Unchanged")
            EXPECT_EQ(treeListing(path), listingsBefore[path]) << path << " has changed";
        else if (kind == "Directory")
            EXPECT_TRUE(fs::is_directory(status)) << path << " is no directory";
        else if (kind == "Absent")
            EXPECT_FALSE(fs::exists(status)) << path << " is still there";
        else
            EXPECT_EQ(fs::is_regular_file(status) ? target.readText(path) : path + " is no file",
                      expand(textOf(element), true))
                << path;
    });
    forChildren(scenario, [&](Element element, const std::string& kind) {
        if (kind != "Sent") return;  // "STATUS RANGE" per answer at `path`; bytes add up
        const std::string path = attr(element, "path");
        const Host& host = hosts.at(attr(element, "name"));
        std::vector<std::string> answers;
        std::uintmax_t bytes = 0;
        for (const std::string& line : linesOf(host.server->sentLog())) {
            if (line.compare(0, path.size() + 1, path + " ") != 0) continue;
            answers.push_back(line.substr(path.size() + 1, line.rfind(' ') - path.size() - 1));
            bytes += std::stoull(line.substr(line.rfind(' ') + 1));
        }
        EXPECT_EQ(logDifference(linesOf(textOf(element)), answers), "") << "answers at " << path;
        const bool addsUp = bytes == fs::file_size(host.root() + path);
        EXPECT_TRUE(addsUp || attr(element, "addUpToTheFile") != "true") << bytes << " bytes sent";
    });
    forChildren(scenario, [&](Element element, const std::string& kind) {
        if (kind != "Proxied") return;
        const std::string requests = logDifference(linesOf(expand(textOf(element), true)),
                                                   proxies.at(attr(element, "name")).requests());
        EXPECT_TRUE(requests.empty()) << "requests through proxy " << attr(element, "name") << ":\n"
                                      << requests;
    });
    if (conditions.peakMemoryFile.empty() || !fs::exists(conditions.peakMemoryFile)) return;
    const double peak = std::atof(readFile(conditions.peakMemoryFile).c_str()) / 1024;  // KiB
    if (peakMiB) *peakMiB = peak;
    if (growthLimit <= 0 || baselinePeak <= 0) return;
    EXPECT_LT(peak - baselinePeak, growthLimit) << "MiB over the baseline's peak";
    std::printf("Peak memory: %.1f MiB, %.1f MiB over %s\n", peak, peak - baselinePeak,
                attr(scenario, "peakMemoryBaseline").c_str());
}
