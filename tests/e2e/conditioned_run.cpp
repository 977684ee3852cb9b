// pelorin_conditioned_run [--connect-seconds N] [--low-speed-seconds N]
//     [--volume PATH KEPT SIZE FREE READONLY FULLONCE FULLAT]... UPDATER
// runs an installation's updater under a scenario's conditions, as a process
// of its own (only a process with one thread may fork and go on). A volume,
// in a mount namespace of the run's own, is a tmpfs of SIZE over PATH with
// PATH's files (reachable at KEPT, which takes back what the run left),
// filled until FREE bytes are free (-1: not), filled up once its file
// FULLONCE holds FULLAT bytes; with SIZE empty, PATH itself. READONLY 1 makes
// it read-only. With time-outs the updater's own code runs here (the updater
// takes no settings), else UPDATER. Exit status: the updater's, 77 when the
// volumes cannot be made.
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/command_dispatch.h"
#include "app/updater_context.h"
#include "e2e/child_process.h"
#include "support/mount_namespace.h"

namespace fs = std::filesystem;

namespace {

// Zeros into the folder's filler file until only `leaveFree` bytes are free.
void fill(const std::string& folder, unsigned long long leaveFree) {
    struct statvfs disk;
    if (::statvfs(folder.c_str(), &disk) != 0) return;
    unsigned long long left = static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize;
    left = left > leaveFree ? left - leaveFree : 0;
    std::ofstream filler(folder + "/.filler", std::ios::binary | std::ios::app);
    const std::string zeros(64 * 1024, '\0');
    for (std::size_t count = 0; left > 0 && filler; left -= count) {
        count = std::min<unsigned long long>(left, zeros.size());
        filler.write(zeros.data(), static_cast<std::streamsize>(count));
    }
}

// `volume`: PATH KEPT SIZE FREE READONLY FULLONCE FULLAT.
bool mountVolume(char** volume) {
    const std::string path = volume[0], kept = volume[1], size = volume[2];
    if (size.empty()) {
        if (::mount(volume[0], volume[0], nullptr, MS_BIND, nullptr) != 0) return false;
    } else {
        fs::create_directories(kept);
        if (::mount(volume[0], volume[1], nullptr, MS_BIND, nullptr) != 0 ||
            ::mount("tmpfs", volume[0], "tmpfs", 0, ("size=" + size).c_str()) != 0) {
            return false;
        }
        fs::copy(kept, path, fs::copy_options::recursive);
        if (std::stoll(volume[3]) >= 0) fill(path, std::stoull(volume[3]));
    }
    return std::string(volume[4]) != "1" ||
           ::mount(nullptr, volume[0], nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

// A process that fills the volume up once its file holds enough bytes.
pid_t startFiller(char** volume) {
    const pid_t filler = ::fork();
    if (filler != 0) return filler;
    const std::string file = std::string(volume[0]) + "/" + volume[5];
    const auto enough = std::stoull(volume[6]);
    for (std::error_code error; fs::file_size(file, error) < enough || error;) ::usleep(2000);
    fill(volume[0], 0);
    ::_exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    TransferTimeouts timeouts;
    bool ownTimeouts = false;
    std::vector<char**> volumes;
    int next = 1;
    for (; next + 1 < argc; ++next) {
        const std::string option = argv[next];
        if (option == "--connect-seconds") {
            timeouts.connectSeconds = std::stol(argv[++next]), ownTimeouts = true;
        } else if (option == "--low-speed-seconds") {
            timeouts.lowSpeedSeconds = std::stol(argv[++next]), ownTimeouts = true;
        } else if (option == "--volume" && next + 7 < argc) {
            volumes.push_back(argv + next + 1);
            next += 7;
        } else {
            break;
        }
    }
    if (next + 1 != argc) return 2;
    if (!volumes.empty() && !enterOwnMountNamespace()) return 77;
    std::vector<pid_t> fillers;
    for (char** volume : volumes) {
        if (!mountVolume(volume)) return 77;
        if (*volume[5]) fillers.push_back(startFiller(volume));
    }
    int status = 0;
    if (ownTimeouts) {
        UpdaterContext context;
        context.transferTimeouts = timeouts;
        const char* const updaterArgv[] = {"PelorinAutoUpdate", nullptr};
        dispatchCommand(context, 1, updaterArgv);
    } else {
        status = waitFor(spawn({argv[next]}));
    }
    for (const pid_t filler : fillers) stopChild(filler);
    // The folder under a tmpfs takes what the run left on it.
    for (char** volume : volumes) {
        if (!*volume[2]) continue;
        fs::remove(std::string(volume[0]) + "/.filler");
        for (const auto& entry : fs::directory_iterator(volume[1])) fs::remove_all(entry.path());
        fs::copy(volume[0], volume[1], fs::copy_options::recursive);
    }
    return status;
}
