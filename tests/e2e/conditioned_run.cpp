// pelorin_conditioned_run: runs the updater of an installation under the
// conditions a scenario asks for, as a process of its own (the test program
// has threads, and only a process with one may fork and go on).
//
//   pelorin_conditioned_run [--connect-seconds N] [--low-speed-seconds N]
//       [--volume PATH KEPT SIZE FREE READONLY FULLONCE FULLAT]... UPDATER
//
// Each --volume is mounted in a mount namespace of the run's own: a tmpfs of
// SIZE over PATH holding PATH's files (PATH stays reachable at KEPT and takes
// back what the run left), filled until FREE bytes are free (-1: not), filled
// up once the file FULLONCE on it holds FULLAT bytes; or, with SIZE empty, PATH
// itself. READONLY 1 makes it read-only. With time-outs the updater's own code
// runs here with them, since the updater takes no settings; otherwise UPDATER
// runs. The environment points either at the installation. Exit status: the
// updater's, or 77 when the volumes cannot be made.
#include <signal.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/command_dispatch.h"
#include "app/updater_context.h"
#include "support/mount_namespace.h"

namespace fs = std::filesystem;

namespace {

constexpr int cannotStatus = 77;
const char* const fillerName = ".filler";

struct Volume {
    std::string path, kept, size;
    long long freeBytes = -1;
    bool readOnly = false;
    std::string fullOnceWritten;
    long long fullAtBytes = 1;
};

// Zeros into the volume's filler file until only `leaveFree` bytes are free,
// or until the disk takes no more.
void fill(const std::string& directory, unsigned long long leaveFree) {
    struct statvfs volume;
    if (::statvfs(directory.c_str(), &volume) != 0) return;
    const unsigned long long freeBytes =
        static_cast<unsigned long long>(volume.f_bavail) * volume.f_frsize;
    std::ofstream filler(directory + "/" + fillerName, std::ios::binary | std::ios::app);
    const std::vector<char> zeros(64 * 1024);
    for (unsigned long long left = freeBytes > leaveFree ? freeBytes - leaveFree : 0;
         left > 0 && filler;) {
        const auto count =
            static_cast<std::streamsize>(std::min<unsigned long long>(left, zeros.size()));
        filler.write(zeros.data(), count);
        left -= static_cast<unsigned long long>(count);
    }
    filler.flush();
}

bool mountVolume(const Volume& volume) {
    const char* path = volume.path.c_str();
    if (!volume.size.empty()) {
        fs::create_directories(volume.kept);
        const std::string options = "size=" + volume.size;
        if (::mount(path, volume.kept.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            ::mount("tmpfs", path, "tmpfs", 0, options.c_str()) != 0) {
            return false;
        }
        fs::copy(volume.kept, volume.path, fs::copy_options::recursive);
        if (volume.freeBytes >= 0)
            fill(volume.path, static_cast<unsigned long long>(volume.freeBytes));
    } else if (::mount(path, path, nullptr, MS_BIND, nullptr) != 0) {
        return false;
    }
    return !volume.readOnly ||
           ::mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

// The folder under the volume takes what the run left on the volume.
void keepContents(const Volume& volume) {
    if (volume.size.empty()) return;
    fs::remove(volume.path + "/" + fillerName);
    for (const auto& entry : fs::directory_iterator(volume.kept)) fs::remove_all(entry.path());
    fs::copy(volume.path, volume.kept, fs::copy_options::recursive);
}

// A process that fills the volume up as soon as the file holds enough bytes.
pid_t startFiller(const Volume& volume) {
    const pid_t filler = ::fork();
    if (filler != 0) return filler;
    const std::string file = volume.path + "/" + volume.fullOnceWritten;
    const auto enough = static_cast<std::uintmax_t>(volume.fullAtBytes);
    for (std::error_code error; fs::file_size(file, error) < enough || error;) ::usleep(2000);
    fill(volume.path, 0);
    ::_exit(0);
}

// The updater's own run, as main makes it, with other transfer time-outs.
int runWithTimeouts(const TransferTimeouts& timeouts) {
    UpdaterContext context;
    context.transferTimeouts = timeouts;
    const char* const argv[] = {"PelorinAutoUpdate", nullptr};
    dispatchCommand(context, 1, argv);
    return 0;
}

int runExecutable(char* updater) {
    const pid_t child = ::fork();
    if (child == 0) {
        char* argv[] = {updater, nullptr};
        ::execv(updater, argv);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<TransferTimeouts> timeouts;
    std::vector<Volume> volumes;
    int next = 1;
    for (; next + 1 < argc; ++next) {
        const std::string option = argv[next];
        if (option == "--connect-seconds" || option == "--low-speed-seconds") {
            if (!timeouts) timeouts = TransferTimeouts();
            (option == "--connect-seconds" ? timeouts->connectSeconds : timeouts->lowSpeedSeconds) =
                std::stol(argv[++next]);
        } else if (option == "--volume" && next + 7 < argc) {
            volumes.push_back({argv[next + 1], argv[next + 2], argv[next + 3],
                               std::stoll(argv[next + 4]), std::strcmp(argv[next + 5], "1") == 0,
                               argv[next + 6], std::stoll(argv[next + 7])});
            next += 7;
        } else {
            break;
        }
    }
    if (next + 1 != argc) return 2;
    if (!volumes.empty() && !enterOwnMountNamespace()) return cannotStatus;
    std::vector<pid_t> fillers;
    for (const Volume& volume : volumes) {
        if (!mountVolume(volume)) return cannotStatus;
        if (!volume.fullOnceWritten.empty()) fillers.push_back(startFiller(volume));
    }
    const int status = timeouts ? runWithTimeouts(*timeouts) : runExecutable(argv[next]);
    for (const pid_t filler : fillers) {
        ::kill(filler, SIGKILL);
        ::waitpid(filler, nullptr, 0);
    }
    for (const Volume& volume : volumes) keepContents(volume);
    return status;
}
