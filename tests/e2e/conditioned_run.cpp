// pelorin_conditioned_run: runs an installation's updater under a scenario's
// conditions, as a process of its own (only a process with one thread may
// fork and go on):
//   pelorin_conditioned_run [--connect-seconds N] [--low-speed-seconds N]
//       [--volume PATH KEPT SIZE FREE READONLY FULLONCE FULLAT]... UPDATER
// Each volume, in a mount namespace of the run's own, is a tmpfs of SIZE over
// PATH starting with PATH's files (reachable at KEPT, which takes back what
// the run left), filled until FREE bytes are free (-1: not), filled up once
// its file FULLONCE holds FULLAT bytes; with SIZE empty, PATH itself. READONLY
// 1 makes it read-only. With time-outs, the updater's own code runs here with
// them (the updater takes no settings); otherwise UPDATER runs. Exit status:
// the updater's, 77 when the volumes cannot be made.
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "app/command_dispatch.h"
#include "app/updater_context.h"
#include "e2e/child_process.h"
#include "support/mount_namespace.h"

namespace fs = std::filesystem;

namespace {

struct Volume {
    std::string path, kept, size, fullOnceWritten;
    long long freeBytes, fullAtBytes;
    bool readOnly;
};

// Zeros into the volume's filler file until only `leaveFree` bytes are free.
void fill(const std::string& directory, unsigned long long leaveFree) {
    struct statvfs disk;
    if (::statvfs(directory.c_str(), &disk) != 0) return;
    const unsigned long long freeBytes =
        static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize;
    std::ofstream filler(directory + "/.filler", std::ios::binary | std::ios::app);
    const std::string zeros(64 * 1024, '\0');
    for (unsigned long long left = freeBytes > leaveFree ? freeBytes - leaveFree : 0;
         left > 0 && filler;) {
        const std::size_t count = std::min<unsigned long long>(left, zeros.size());
        filler.write(zeros.data(), static_cast<std::streamsize>(count));
        left -= count;
    }
}

bool mountVolume(const Volume& volume) {
    const char* path = volume.path.c_str();
    if (volume.size.empty()) {
        if (::mount(path, path, nullptr, MS_BIND, nullptr) != 0) return false;
    } else {
        fs::create_directories(volume.kept);
        if (::mount(path, volume.kept.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            ::mount("tmpfs", path, "tmpfs", 0, ("size=" + volume.size).c_str()) != 0) {
            return false;
        }
        fs::copy(volume.kept, volume.path, fs::copy_options::recursive);
        if (volume.freeBytes >= 0)
            fill(volume.path, static_cast<unsigned long long>(volume.freeBytes));
    }
    return !volume.readOnly ||
           ::mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

// A process that fills the volume up once its file holds enough bytes.
pid_t startFiller(const Volume& volume) {
    const pid_t filler = ::fork();
    if (filler != 0) return filler;
    const std::string file = volume.path + "/" + volume.fullOnceWritten;
    for (std::error_code error;
         fs::file_size(file, error) < static_cast<std::uintmax_t>(volume.fullAtBytes) || error;)
        ::usleep(2000);
    fill(volume.path, 0);
    ::_exit(0);
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
            char** word = argv + next;
            volumes.push_back({word[1], word[2], word[3], word[6], std::stoll(word[4]),
                               std::stoll(word[7]), std::string(word[5]) == "1"});
            next += 7;
        } else {
            break;
        }
    }
    if (next + 1 != argc) return 2;
    if (!volumes.empty() && !enterOwnMountNamespace()) return 77;
    std::vector<pid_t> fillers;
    for (const Volume& volume : volumes) {
        if (!mountVolume(volume)) return 77;
        if (!volume.fullOnceWritten.empty()) fillers.push_back(startFiller(volume));
    }
    int status = 0;
    if (timeouts) {
        UpdaterContext context;
        context.transferTimeouts = *timeouts;
        const char* const updaterArgv[] = {"PelorinAutoUpdate", nullptr};
        dispatchCommand(context, 1, updaterArgv);
    } else {
        status = waitFor(spawn({argv[next]}));
    }
    for (const pid_t filler : fillers) stopChild(filler);
    // The folder under a tmpfs takes what the run left on it.
    for (const Volume& volume : volumes) {
        if (volume.size.empty()) continue;
        fs::remove(volume.path + "/.filler");
        for (const auto& entry : fs::directory_iterator(volume.kept)) fs::remove_all(entry.path());
        fs::copy(volume.path, volume.kept, fs::copy_options::recursive);
    }
    return status;
}
