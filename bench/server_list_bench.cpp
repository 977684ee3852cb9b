// Server list load time. Writes lists of 1,000, 10,000 and 32,768 entries to
// temporary files and times ServerList::load on each (median of several
// loads), then the same load with the shuffle's first form, which looked for
// each drawn index among those already drawn; prints both, their ratio, and
// how the load grows with the list. Also checks that both forms give the same
// order for the same seed. The machine is shared, so CPU time is printed
// beside wall time.
//
// server_list_bench [--rounds N]
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/updater_context.h"
#include "platform/platform.h"
#include "serverlist/list_lines.h"
#include "serverlist/server_list.h"
#include "serverlist/shuffle.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using Urls = std::vector<std::string>;

struct Timing {
    double wallMs;
    double cpuMs;
};

// The shuffle as first written: the same draws, but each drawn index is
// looked for among those already drawn, from the start.
void shuffleByLinearSearch(Urls& entries, unsigned seed) {
    const std::size_t count = entries.size();
    if (count == 0) return;
    std::srand(seed);
    std::vector<std::size_t> permutation{static_cast<std::size_t>(std::rand()) % count};
    while (permutation.size() < count) {
        const std::size_t index = static_cast<std::size_t>(std::rand()) % count;
        if (std::find(permutation.begin(), permutation.end(), index) == permutation.end()) {
            permutation.push_back(index);
        }
    }
    Urls reordered;
    reordered.reserve(count);
    for (std::size_t index : permutation) reordered.push_back(std::move(entries[index]));
    entries.swap(reordered);
}

// ServerList::load's steps with the first shuffle in place of the current one.
void loadWithLinearSearch(const std::string& path, Urls& urls, std::string& version) {
    std::FILE* file = platform::openFile(path, "r");
    if (!file) return;
    urls.clear();
    version = "0.0";
    readListLines(file, urls, version);
    shuffleByLinearSearch(urls, static_cast<unsigned>(platform::calendarSeconds()));
    std::fclose(file);
}

// Reading alone, to show what the shuffle adds.
void readOnly(const std::string& path, Urls& urls, std::string& version) {
    std::FILE* file = platform::openFile(path, "r");
    if (!file) return;
    urls.clear();
    version = "0.0";
    readListLines(file, urls, version);
    std::fclose(file);
}

Timing medianOf(int rounds, const std::function<void()>& run) {
    std::vector<double> walls, cpus;
    for (int i = 0; i < rounds; ++i) {
        const auto wallStart = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        run();
        const std::clock_t cpuEnd = std::clock();
        const auto wallEnd = std::chrono::steady_clock::now();
        walls.push_back(std::chrono::duration<double, std::milli>(wallEnd - wallStart).count());
        cpus.push_back(1000.0 * static_cast<double>(cpuEnd - cpuStart) / CLOCKS_PER_SEC);
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    return {walls[walls.size() / 2], cpus[cpus.size() / 2]};
}

// A list as a release engineer might write one: a version line, comments,
// entries with spaces around them, some ending in "/", some naming their
// manifest.
void writeList(const std::string& path, std::size_t entries) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << "# update servers\r\nVersion = 3.2\r\n\r\n";
    for (std::size_t i = 0; i < entries; ++i) {
        if (i % 100 == 0) file << "# region " << i / 100 << "\r\n";
        switch (i % 3) {
            case 0:
                file << "https://update" << i << ".pelorin.example/releases\r\n";
                break;
            case 1:
                file << "  https://mirror" << i << ".pelorin.example/pelorin/  \r\n";
                break;
            default:
                file << "https://cdn" << i << ".pelorin.example/Win/UpdateWin.xml\r\n";
                break;
        }
    }
}

bool sameOrderForSameSeed(const Urls& entries) {
    for (unsigned seed : {1u, 1700000000u, 4000000000u}) {
        Urls current = entries, first = entries;
        shuffleEntries(current, seed);
        shuffleByLinearSearch(first, seed);
        if (current != first) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    const TempDir workDir;
    const std::string work = workDir.path();
    // The context's discovery finds an empty registry and its log goes to
    // the work directory; only the server list is used.
    fs::create_directories(work + "/registry");
    fs::create_directories(work + "/temp");
    ::setenv("PELORIN_REGISTRY_ROOT", (work + "/registry").c_str(), 1);
    ::setenv("TMPDIR", (work + "/temp").c_str(), 1);

    bool allSame = true;
    std::vector<double> loadMs;
    const std::vector<std::size_t> sizes = {1000, 10000, ServerList::maxEntries};
    std::printf("Server list load, median of %d loads (wall ms / CPU ms)\n\n", rounds);
    std::printf("%8s  %17s  %17s  %19s  %10s\n", "entries", "read only", "load",
                "load, linear search", "linear/now");
    {
        UpdaterContext context;
        for (std::size_t size : sizes) {
            const std::string path = work + "/ServerList-" + std::to_string(size) + ".lst";
            writeList(path, size);
            ServerList list(path, context);
            if (list.urls.size() != size) {
                std::fprintf(stderr, "loaded %zu entries of %zu\n", list.urls.size(), size);
                return 1;
            }
            Urls urls;
            std::string version;
            const Timing read = medianOf(rounds, [&] { readOnly(path, urls, version); });
            const Timing now = medianOf(rounds, [&] { list.load(); });
            const Timing linear =
                medianOf(rounds, [&] { loadWithLinearSearch(path, urls, version); });
            allSame = allSame && sameOrderForSameSeed(urls);
            loadMs.push_back(now.wallMs);
            std::printf("%8zu  %8.2f /%7.2f  %8.2f /%7.2f  %10.1f /%7.1f  %9.0fx\n", size,
                        read.wallMs, read.cpuMs, now.wallMs, now.cpuMs, linear.wallMs, linear.cpuMs,
                        linear.wallMs / now.wallMs);
        }
    }
    std::printf(
        "\nGrowth of the load: 10,000 / 1,000 entries %.1fx (10x linear); "
        "32,768 / 1,000 entries %.1fx (32.8x linear)\n",
        loadMs[1] / loadMs[0], loadMs[2] / loadMs[0]);
    std::printf("Goal: 32,768 entries in under 20 ms: %.2f ms\n", loadMs[2]);
    std::printf("Same order as the linear search for the same seed: %s\n", allSame ? "yes" : "NO");
    return allSame ? 0 : 1;
}
