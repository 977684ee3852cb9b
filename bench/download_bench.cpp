// Package download speed and peak memory: the updater's downloadPackage
// against the curl command, both fetching the same file from an HTTPS server
// on 127.0.0.1. Every download runs in a fresh child process, so that its
// peak resident size is its own; the two methods take turns, first one then
// the other, so that a busy machine slows both alike.
//
//   download_bench [--rounds N] [--size-mib N] [--server openssl|python]
//
// The default server is `openssl s_server -HTTP`, a C server that streams the
// file (headers included in it) without doing work per block in an
// interpreter; "python" uses the project's test update server instead.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench_figures.h"
#include "core/updater_context.h"
#include "support/temp_dir.h"
#include "transfer/package_download.h"

namespace fs = std::filesystem;

namespace {

struct Options {
    int rounds = 3;
    std::uint64_t sizeBytes = 1024ull * 1024 * 1024;
    std::string server = "openssl";
};

struct ChildResult {
    bool succeeded = false;
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time of the child
    long maxRssKib = 0;
};

// Starts argv with stdout and stderr going to outputPath, in workingDir.
pid_t spawn(const std::vector<std::string>& argv, const std::string& outputPath,
            const std::string& workingDir = ".") {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int output = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int input = ::open("/dev/null", O_RDONLY);
        if (output < 0 || input < 0 || ::chdir(workingDir.c_str()) != 0) ::_exit(126);
        ::dup2(input, 0);
        ::dup2(output, 1);
        ::dup2(output, 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

// Runs one download to its end; wait4 gives this child's own peak size.
ChildResult runChild(const std::vector<std::string>& argv, const std::string& outputPath) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = spawn(argv, outputPath);
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
    ChildResult result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.maxRssKib = usage.ru_maxrss;
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return result;
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string sourceDir() {
    return PELORIN_SOURCE_DIR;
}

void makeCertificates(const std::string& dir) {
    const std::string output = dir + ".out";
    ChildResult made =
        runChild({"sh", sourceDir() + "/tools/update_server/make_certs.sh", dir}, output);
    if (!made.succeeded) throw std::runtime_error("make_certs.sh failed:\n" + readWhole(output));
}

// Pseudo-random bytes, so that nothing on the way can shrink them; written in
// blocks so that this process stays small.
void writeServedFile(const std::string& path, const std::string& head, std::uint64_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << head;
    std::vector<std::uint64_t> block(1 << 17);
    std::uint64_t seed = 0x9E3779B97F4A7C15ull;
    for (std::uint64_t left = size; left > 0;) {
        for (std::uint64_t& word : block) {
            seed ^= seed << 13;
            seed ^= seed >> 7;
            seed ^= seed << 17;
            word = seed;
        }
        const std::uint64_t bytes = std::min<std::uint64_t>(left, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(bytes));
        left -= bytes;
    }
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// The loopback server, stopped with the object.
class Server {
public:
    Server(const std::string& kind, const std::string& dir, const std::string& certs,
           std::uint64_t size)
        : outputPath_(dir + "/server.out") {
        const std::string root = dir + "/root";
        fs::create_directories(root);
        const std::string cert = certs + "/server.pem", key = certs + "/server.key";
        if (kind == "openssl") {
            // -HTTP sends the file as it is, so it carries its own headers.
            writeServedFile(root + "/Pelorin.msi",
                            "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
                            "Content-Length: " +
                                std::to_string(size) + "\r\n\r\n",
                            size);
            pid_ = spawn({"openssl", "s_server", "-accept", "127.0.0.1:0", "-cert", cert, "-key",
                          key, "-HTTP", "-http_server_binmode"},
                         outputPath_, root);
        } else if (kind == "python") {
            writeServedFile(root + "/Pelorin.msi", "", size);
            pid_ =
                spawn({fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3",
                       sourceDir() + "/tools/update_server/update_server.py", "--port", "0",
                       "--port-file", dir + "/port", "--root", root, "--cert", cert, "--key", key,
                       "--max-seconds", "36000", "--parent-pid", std::to_string(::getpid())},
                      outputPath_);
        } else {
            throw std::runtime_error("unknown server: " + kind);
        }
        try {
            waitForPort(kind == "openssl" ? "" : dir + "/port");
        } catch (...) {
            stop();
            throw;
        }
    }
    ~Server() { stop(); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    std::string url() const {
        return "https://localhost:" + std::to_string(port_) + "/Pelorin.msi";
    }

private:
    void stop() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }

    // s_server names its port in an "ACCEPT 127.0.0.1:PORT" line; the Python
    // server writes it to a file once it listens.
    void waitForPort(const std::string& portFile) {
        const std::string marker = "ACCEPT 127.0.0.1:";
        for (int tries = 0; tries < 1500 && port_ == 0; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!portFile.empty()) {
                if (fs::exists(portFile)) port_ = std::stoi(readWhole(portFile));
                continue;
            }
            const std::string output = readWhole(outputPath_);
            const std::size_t at = output.find(marker);
            if (at != std::string::npos && output.find('\n', at) != std::string::npos)
                port_ = std::stoi(output.substr(at + marker.size()));
        }
        if (port_ == 0)
            throw std::runtime_error("server did not listen:\n" + readWhole(outputPath_));
    }

    std::string outputPath_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// The child side of an updater download: a context as the updater builds it,
// pointed at the bench's directories; the registry is empty, so discovery
// finds nothing and the paths are set here.
int updaterChild(const std::string& url, const std::string& caBundle, const std::string& dir) {
    ::setenv("TMPDIR", dir.c_str(), 1);
    ::setenv("PELORIN_REGISTRY_ROOT", (dir + "/registry").c_str(), 1);
    UpdaterContext context;
    context.state = LogLevel::Info;
    context.installDir = dir;
    context.caBundlePath = caBundle;
    return downloadPackage(context, url, "") ? 0 : 1;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    if (argc % 2 == 0) throw std::runtime_error("every option takes a value");
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--rounds") {
            options.rounds = std::max(1, std::atoi(value.c_str()));
        } else if (name == "--size-mib") {
            options.sizeBytes = std::strtoull(value.c_str(), nullptr, 10) * 1024 * 1024;
        } else if (name == "--server") {
            options.server = value;
        } else {
            throw std::runtime_error("unknown option " + name);
        }
    }
    return options;
}

struct Method {
    using Command = std::function<std::vector<std::string>(const std::string& url)>;
    Method(const char* methodName, Command methodCommand)
        : name(methodName), command(std::move(methodCommand)) {}

    const char* name;
    Command command;
    std::vector<double> megabytesPerSecond;
    std::vector<double> cpuSeconds;
    long maxRssKib = 0;
    long baselineRssKib = 0;  // the same program failing at once, before any data
};

// A URL on a loopback port that nothing listens on (bound, never listening),
// so that the program starts, loads its libraries and fails straight away.
class RefusedUrl {
public:
    RefusedUrl() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot reserve a loopback port");
        url_ = "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/Pelorin.msi";
    }
    ~RefusedUrl() { ::close(fd_); }
    RefusedUrl(const RefusedUrl&) = delete;
    RefusedUrl& operator=(const RefusedUrl&) = delete;
    const std::string& url() const { return url_; }

private:
    int fd_;
    std::string url_;
};

// The peak size of the method's program when its connection is refused: what
// the process costs before the transfer adds anything.
void measureBaseline(Method& method, const std::string& url, const std::string& outputPath) {
    method.baselineRssKib = runChild(method.command(url), outputPath).maxRssKib;
}

// One download into a fresh destination; dirty pages of the last one are
// written out first so that they do not slow this one.
void measure(Method& method, const std::string& url, const std::string& destination,
             std::uint64_t size, const std::string& outputPath) {
    fs::remove(destination);
    ::sync();
    const ChildResult result = runChild(method.command(url), outputPath);
    std::error_code error;
    const std::uintmax_t stored = fs::file_size(destination, error);
    if (!result.succeeded || error || stored != size)
        throw std::runtime_error(std::string(method.name) + " download failed (stored " +
                                 std::to_string(error ? 0 : stored) + " bytes):\n" +
                                 readWhole(outputPath));
    const double rate = static_cast<double>(size) / 1e6 / result.seconds;
    method.megabytesPerSecond.push_back(rate);
    method.cpuSeconds.push_back(result.cpuSeconds);
    method.maxRssKib = std::max(method.maxRssKib, result.maxRssKib);
    std::printf("  %-8s %8.1f MB/s  %6.2f s  CPU %5.2f s  peak RSS %6ld KiB\n", method.name, rate,
                result.seconds, result.cpuSeconds, result.maxRssKib);
    std::fflush(stdout);
}

int runBench(const Options& options) {
    TempDir dir;
    const std::string certs = dir.path() + "/certs";
    makeCertificates(certs);
    Server server(options.server, dir.path() + "/server", certs, options.sizeBytes);
    const std::string downloads = dir.path() + "/downloads";
    fs::create_directories(downloads + "/registry");
    const std::string destination = downloads + "/Pelorin.msi";
    const std::string caBundle = certs + "/ca.pem";

    const std::string self = fs::read_symlink("/proc/self/exe").string();
    Method updater{
        "updater", [&](const std::string& url) {
            return std::vector<std::string>{self, "--updater-child", url, caBundle, downloads};
        }};
    Method curl{"curl", [&](const std::string& url) {
                    return std::vector<std::string>{"curl", "-s",        "--cacert", caBundle,
                                                    "-o",   destination, url};
                }};
    const std::string childOutput = dir.path() + "/child.out";
    {
        RefusedUrl refused;
        measureBaseline(updater, refused.url(), childOutput);
        measureBaseline(curl, refused.url(), childOutput);
    }

    std::printf("download of %.0f MiB from %s (server: %s), %d rounds\n",
                static_cast<double>(options.sizeBytes) / (1024 * 1024), server.url().c_str(),
                options.server.c_str(), options.rounds);
    // An unmeasured download each first: the first transfer after the served
    // file was written is slowed by the page cache settling.
    std::printf("warm-up\n");
    measure(updater, server.url(), destination, options.sizeBytes, childOutput);
    measure(curl, server.url(), destination, options.sizeBytes, childOutput);
    for (Method* method : {&updater, &curl}) {
        method->megabytesPerSecond.clear();
        method->cpuSeconds.clear();
    }
    for (int round = 1; round <= options.rounds; ++round) {
        std::printf("round %d\n", round);
        Method& first = round % 2 ? updater : curl;
        Method& second = round % 2 ? curl : updater;
        measure(first, server.url(), destination, options.sizeBytes, childOutput);
        measure(second, server.url(), destination, options.sizeBytes, childOutput);
    }
    fs::remove(destination);

    const double updaterRate = median(updater.megabytesPerSecond);
    const double curlRate = median(curl.megabytesPerSecond);
    const double ratio = updaterRate / curlRate;
    std::vector<double> roundRatios;
    for (int round = 0; round < options.rounds; ++round)
        roundRatios.push_back(updater.megabytesPerSecond[round] / curl.megabytesPerSecond[round]);
    std::printf("median   updater %.1f MB/s, curl %.1f MB/s, ratio %.3f (goal >= 0.95: %s)\n",
                updaterRate, curlRate, ratio, ratio >= 0.95 ? "met" : "missed");
    std::printf("         ratio within a round: median %.3f, lowest %.3f, highest %.3f\n",
                median(roundRatios), *std::min_element(roundRatios.begin(), roundRatios.end()),
                *std::max_element(roundRatios.begin(), roundRatios.end()));
    std::printf("median CPU updater %.2f s, curl %.2f s\n", median(updater.cpuSeconds),
                median(curl.cpuSeconds));
    std::printf("peak RSS updater %ld KiB, curl %ld KiB (goal updater <= curl: %s)\n",
                updater.maxRssKib, curl.maxRssKib,
                updater.maxRssKib <= curl.maxRssKib ? "met" : "missed");
    std::printf(
        "  of which the transfer: updater %+ld KiB, curl %+ld KiB over a refused "
        "connection's %ld and %ld KiB\n",
        updater.maxRssKib - updater.baselineRssKib, curl.maxRssKib - curl.baselineRssKib,
        updater.baselineRssKib, curl.baselineRssKib);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 5 && std::strcmp(argv[1], "--updater-child") == 0)
            return updaterChild(argv[2], argv[3], argv[4]);
        return runBench(parseOptions(argc, argv));
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "download_bench: %s\n", failure.what());
        return 1;
    }
}
