// The cost of the all-or-nothing install: a release of 2,000 files and
// 200 MB (noise, 100 folders of 20 files) copied over an installation of
// the previous release with the same files, by the updater's own copy
// command, without and with the step that makes it undoable (the journal
// written to the disk and each replaced file moved aside before; after, the
// new files put on the disk, the journal removed, and the backup after the
// success line). Each round starts
// from a fresh installation and staging tree; rounds alternate, medians are
// printed with their ratio.
//
// install_backup_bench [--rounds N] [--files N] [--megabytes M] [--settle SECONDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_figures.h"
#include "core/path_utils.h"
#include "install/install_backup.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A release tree of `files` files of noise, 20 to a folder.
void writeRelease(const std::string& dir, int files, std::size_t fileBytes) {
    std::ifstream noise("/dev/urandom", std::ios::binary);
    std::vector<char> bytes(fileBytes);
    for (int file = 0; file < files; ++file) {
        const std::string folder = dir + "/Application/part" + std::to_string(file / 20);
        fs::create_directories(folder);
        noise.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        std::ofstream(folder + "/file" + std::to_string(file) + ".bin", std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

bool run(const std::string& command) {
    return platform::runCommand(command) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5, files = 2000;
    // A pause after each round's lay-out, so that the disk has finished with
    // the last round's 400 MB before the next is measured.
    std::string settle = "2";
    long megabytes = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--files")) files = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--megabytes")) megabytes = std::atol(argv[i + 1]);
        if (!std::strcmp(argv[i], "--settle")) settle = std::to_string(std::atoi(argv[i + 1]));
    }
    TempDir work;
    const std::string oldRelease = work.path() + "/1.0", newRelease = work.path() + "/1.1";
    const std::string rootDir = work.path() + "/Pelorin", updateDir = work.path() + "/Update";
    const std::string stagingTree = updateDir + "/program files";
    const std::string unpackedTree = stagingTree + "/Halvorne/Pelorin";
    const std::size_t fileBytes = static_cast<std::size_t>(megabytes) * 1000000 / files;
    writeRelease(oldRelease, files, fileBytes);
    writeRelease(newRelease, files, fileBytes);
    std::printf("Copy of a release of %d files, %ld MB, over the previous one; %d rounds each\n",
                files, megabytes, rounds);

    // Per case: the copy phase up to the updater's success line, and up to
    // the new release being on the disk (a sync after it): ext4 flushes a
    // file rewritten over an old one when it is closed, and a new file only
    // later, so the first figure alone would flatter the moves aside.
    std::vector<double> phase[2], durable[2], steps, removal;
    for (int round = 0; round < 2 * rounds; ++round) {
        const int withBackup = round % 2;
        // A fresh installation and staging tree; the staging tree is hard
        // links, which the copy reads and the clean-up unlinks.
        fs::remove_all(rootDir);
        fs::remove_all(updateDir);
        fs::create_directories(fs::path(unpackedTree).parent_path());
        if (!run("cp -R '" + oldRelease + "' '" + rootDir + "' && cp -al '" + newRelease + "' '" +
                 unpackedTree + "' && sync && sleep " + settle)) {
            std::fprintf(stderr, "cannot lay out the round\n");
            return 1;
        }
        InstallBackup backup(rootDir, updateDir, {rootDir + "/Update"});
        const auto start = Clock::now();
        bool ok = !withBackup || backup.prepare(unpackedTree);
        const double prepared = millisecondsSince(start);
        ok = ok && run(platform::commands.copyAndClean(unpackedTree, rootDir, stagingTree)) &&
             !directoryExists(stagingTree);
        const auto commitStart = Clock::now();
        // The new files on the disk before the journal goes: the durable commit.
        if (withBackup) ok = ok && backup.finish();
        if (withBackup) backup.commit();
        if (withBackup) steps.push_back(prepared + millisecondsSince(commitStart));
        phase[withBackup].push_back(millisecondsSince(start));
        // After the success line: the old release's files go.
        const auto removalStart = Clock::now();
        if (withBackup) backup.removeLeftovers();
        if (withBackup) removal.push_back(millisecondsSince(removalStart));
        ok = ok && run("sync");
        durable[withBackup].push_back(millisecondsSince(start));
        if (!ok || fileExists(updateDir + "/backup")) {
            std::fprintf(stderr, "round %d failed\n", round);
            return 1;
        }
    }
    for (const auto* figures : {phase, durable}) {
        const double without = median(figures[0]), with = median(figures[1]);
        std::printf(
            "  %s\n    without the all-or-nothing step: %8.1f ms\n"
            "    with it:                         %8.1f ms  (%+.1f %%)\n",
            figures == phase ? "copy phase, to the success line:"
                             : "copy phase, until the release is on the disk:",
            without, with, 100 * (with - without) / without);
    }
    std::printf("  of which the journal, the moves aside and the flush: %.1f ms\n", median(steps));
    std::printf("  the backup's removal, after the success line: %.1f ms\n", median(removal));
    std::printf("Goal: at most +20 %%\n");
    return 0;
}
