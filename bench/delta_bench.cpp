// Delta releases against the full package: a synthetic release of 2,000 files
// and 200 MB (noise, 20 to a folder), of which every tenth file changes in
// three places and one in a hundred is new, over its predecessor. Prints the
// delta's size against the full package's (made with wixl), the time to
// rebuild the staging tree from the delta against the administrative unpack
// of the package (rounds alternate, medians), the peak memory of a process
// that applies the delta (GNU time's wait4 figure: the process's own
// baseline, then with the delta applied; then a delta of one 96 MiB file),
// and the install step's copy phase both ways: the full staged tree and the
// delta's, which leaves the unchanged files out.
//
// delta_bench [--rounds N] [--files N] [--megabytes M]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_figures.h"
#include "core/path_utils.h"
#include "core/release_paths.h"
#include "core/updater_context.h"
#include "install/delta_apply.h"
#include "install/install_backup.h"
#include "platform/platform.h"
#include "publish/delta_writer.h"
#include "support/installation.h"

namespace fs = std::filesystem;

namespace {

std::string fileName(int file) {
    return "f" + std::to_string(10000 + file) + ".bin";
}
std::string folderName(int file) {
    return "part" + std::to_string(file / 20);
}

void writeNoise(const std::string& path, std::size_t bytes) {
    static std::ifstream noise("/dev/urandom", std::ios::binary);
    std::vector<char> data(bytes);
    noise.read(data.data(), static_cast<std::streamsize>(bytes));
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(bytes));
}

// 16 bytes changed at a quarter, half and three quarters of the file.
void changeInPlaces(const std::string& path) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    const std::size_t size = fs::file_size(path);
    for (std::size_t at : {size / 4, size / 2, 3 * size / 4}) {
        file.seekp(static_cast<std::streamoff>(at));
        file.write("a changed place.", 16);
    }
}

// The package of `tree` (its Halvorne/Pelorin below it), one component a folder.
bool writePackage(const std::string& work, int files, const std::string& package) {
    std::string wxs =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Wix "
        "xmlns=\"http://schemas.microsoft.com/wix/2006/wi\"><Product Id=\"*\" Name=\"Pelorin\" "
        "Language=\"1033\" Version=\"1.1\" Manufacturer=\"Halvorne\" "
        "UpgradeCode=\"6C3B9E2A-4F1D-4E8B-9A57-2D3C1B0E7F41\"><Package InstallerVersion=\"200\" "
        "Compressed=\"yes\"/><Media Id=\"1\" Cabinet=\"p.cab\" EmbedCab=\"yes\"/><Directory "
        "Id=\"TARGETDIR\" Name=\"SourceDir\"><Directory Id=\"ProgramFilesFolder\" "
        "Name=\"PROGRA~1|program files\"><Directory Id=\"V\" Name=\"Halvorne\"><Directory "
        "Id=\"P\" Name=\"Pelorin\"><Directory Id=\"A\" Name=\"APPLIC~1|Application\">";
    std::string refs;
    for (int file = 0; file < files; ++file) {
        const std::string id = std::to_string(file / 20);
        if (file % 20 == 0) {
            char guid[40];
            std::snprintf(guid, sizeof guid, "0B7E4C0A-39D6-4B7C-8F0E-%012d", file / 20);
            wxs += std::string(file ? "</Component></Directory>" : "") + "<Directory Id=\"D" + id +
                   "\" Name=\"" + folderName(file) + "\"><Component Id=\"C" + id + "\" Guid=\"" +
                   guid + "\">";
            refs += "<ComponentRef Id=\"C" + id + "\"/>";
        }
        wxs += "<File Id=\"F" + std::to_string(file) + "\" Source=\"1.1/Application/" +
               folderName(file) + "/" + fileName(file) + "\"/>";
    }
    wxs +=
        "</Component></Directory></Directory></Directory></Directory></Directory></Directory>"
        "<Feature Id=\"B\" Level=\"1\">" +
        refs + "</Feature></Product></Wix>\n";
    std::ofstream(work + "/package.wxs") << wxs;
    return platform::runCommand("cd '" + work + "' && wixl -o '" + package +
                                "' package.wxs >/dev/null 2>&1") == 0 &&
           fs::exists(package);
}

// Runs this program afresh with `word` and `delta` (see main), so that the
// figure holds nothing of this process; its wall time in ms and peak memory
// in MiB.
bool inChild(const char* word, const std::string& delta, double& milliseconds, double& peakMiB) {
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execl("/proc/self/exe", "delta_bench", word, delta.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return false;
    milliseconds = millisecondsSince(start);
    peakMiB = usage.ru_maxrss / 1024.0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool applyInChild(const std::string& delta, double& milliseconds, double& peakMiB) {
    return inChild("--apply", delta, milliseconds, peakMiB);
}

bool run(const std::string& command) {
    return platform::runCommand(command) == 0;
}

// The installation back to the old release, the staging folder empty.
bool reset(const std::string& oldTree, const Installation& installation) {
    fs::remove_all(installation.rootDir + "/Application");
    fs::remove_all(installation.updateDir);
    return run("cp -R '" + oldTree + "/Application' '" + installation.rootDir + "/' && sync");
}

// The install step's copy phase over the installation, with its backup.
double copyPhase(const Installation& installation) {
    const std::string stagingTree =
        platform::pathIgnoringCase(stagingTreePath(installation.updateDir));
    const std::string unpacked = platform::pathIgnoringCase(unpackedTreePath(stagingTree));
    InstallBackup backup(installation.rootDir, installation.updateDir, {installation.installDir});
    const auto start = Clock::now();
    bool ok = backup.prepare(unpacked) &&
              run(platform::commands.copyAndClean(unpacked, installation.rootDir, stagingTree)) &&
              backup.finish();
    backup.commit();
    const double milliseconds = millisecondsSince(start);
    backup.removeLeftovers();
    return ok ? milliseconds : -1;
}

// A delta of one large file changed in three places: what applying it holds.
double largeFilePeak(const std::string& work, Installation& installation) {
    const std::string oldTree = work + "/large-1.0", newTree = work + "/large-1.1";
    writeNoise(oldTree + "/Application/large.bin", 96u << 20);
    fs::create_directories(newTree + "/Application");
    fs::copy(oldTree + "/Application/large.bin", newTree + "/Application/large.bin");
    changeInPlaces(newTree + "/Application/large.bin");
    fs::remove_all(installation.rootDir + "/Application");
    fs::remove_all(installation.updateDir);
    fs::copy(oldTree + "/Application", installation.rootDir + "/Application",
             fs::copy_options::recursive);
    double milliseconds = 0, peak = -1;
    if (!writeTreeDelta(oldTree, newTree, work + "/large.delta").empty() ||
        !applyInChild(work + "/large.delta", milliseconds, peak))
        return -1;
    return peak;
}

}  // namespace

int main(int argc, char** argv) {
    // The child's part: the delta applied by the updater's own code, in a
    // context of its own, or (--context) the context alone.
    if (argc == 3 && (!std::strcmp(argv[1], "--apply") || !std::strcmp(argv[1], "--context"))) {
        UpdaterContext context;
        return !std::strcmp(argv[1], "--context") || applyDelta(context, argv[2]).empty() ? 0 : 1;
    }
    int rounds = 3, files = 2000;
    long megabytes = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--files")) files = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--megabytes")) megabytes = std::atol(argv[i + 1]);
    }
    Installation installation;
    installation.layOutComplete();
    installation.useInThisProcess();
    const TempDir scratch;
    const std::string work = scratch.path(), oldTree = work + "/1.0", newTree = work + "/1.1";
    const std::string package = work + "/Pelorin-1.1.msi", delta = work + "/Pelorin.delta";
    const std::size_t fileBytes = static_cast<std::size_t>(megabytes) * 1000000 / files;
    for (int file = 0; file < files + files / 100; ++file) {
        const std::string relative = "/Application/" + folderName(file) + "/" + fileName(file);
        if (file < files) writeNoise(oldTree + relative, fileBytes);
        if (file < files) fs::create_directories(fs::path(newTree + relative).parent_path());
        if (file < files) fs::copy_file(oldTree + relative, newTree + relative);
        if (file >= files) writeNoise(newTree + relative, fileBytes);
        if (file < files && file % 10 == 0) changeInPlaces(newTree + relative);
    }
    const int total = files + files / 100;
    const auto publishStart = Clock::now();
    if (!writeTreeDelta(oldTree, newTree, delta).empty() || !writePackage(work, total, package)) {
        std::fprintf(stderr, "cannot make the delta or the package\n");
        return 1;
    }
    const double publishing = millisecondsSince(publishStart);
    const double packageBytes = fs::file_size(package), deltaBytes = fs::file_size(delta);
    std::printf(
        "A release of %d files, %ld MB, over its predecessor: %d changed in 3 places, "
        "%d new\n",
        total, megabytes, files / 10, files / 100);
    std::printf("  full package %.1f MB, delta %.2f MB: %.2f %% (goal: at most 10 %%)\n",
                packageBytes / 1e6, deltaBytes / 1e6, 100 * deltaBytes / packageBytes);
    std::printf("  the delta and the package made in %.1f s\n", publishing / 1000);

    std::vector<double> unpack, rebuild, fullCopy, deltaCopy, peaks, baselines;
    for (int round = 0; round < rounds; ++round) {
        double milliseconds = 0, peak = 0;
        if (!reset(oldTree, installation)) return 1;
        const auto start = Clock::now();
        if (!run(platform::commands.adminUnpack(package, installation.updateDir))) return 1;
        unpack.push_back(millisecondsSince(start));
        fullCopy.push_back(copyPhase(installation));
        if (!reset(oldTree, installation) || !applyInChild(delta, milliseconds, peak)) return 1;
        rebuild.push_back(milliseconds);
        peaks.push_back(peak);
        deltaCopy.push_back(copyPhase(installation));
        if (!inChild("--context", delta, milliseconds, peak)) return 1;
        baselines.push_back(peak);
    }
    std::printf("  administrative unpack of the package: %8.1f ms\n", median(unpack));
    std::printf(
        "  the staging tree rebuilt from the delta: %5.1f ms (%.2f x; goal: at most 1.5 x)\n",
        median(rebuild), median(rebuild) / median(unpack));
    std::printf(
        "  peak memory: %.1f MiB applying the delta, %.1f MiB the same process without "
        "it; %.1f MiB applying a delta of one 96 MiB file\n",
        median(peaks), median(baselines), largeFilePeak(work, installation));
    std::printf(
        "  copy phase with its backup: %.1f ms the full staged tree, %.1f ms the delta's "
        "(unchanged files left out)\n",
        median(fullCopy), median(deltaCopy));
    return 0;
}
