#include "serverlist/shuffle.h"

#include <cstddef>
#include <utility>

#include "platform/platform.h"

namespace {

// The indices in the order drawn. Each draw costs one table look-up, so a
// full list of 32,768 entries (about 340,000 draws) takes milliseconds.
std::vector<unsigned> drawPermutation(unsigned count, unsigned seed) {
    platform::RuntimeRandom generator(seed);
    std::vector<unsigned> permutation;
    permutation.reserve(count);
    std::vector<bool> drawn(count, false);
    while (permutation.size() < count) {
        // rand() is never negative; a 32-bit remainder is the cheaper one.
        const unsigned index = static_cast<unsigned>(generator.next()) % count;
        if (drawn[index]) continue;
        drawn[index] = true;
        permutation.push_back(index);
    }
    return permutation;
}

}  // namespace

void shuffleEntries(std::vector<std::string>& entries, unsigned seed) {
    if (entries.empty()) return;
    const std::vector<unsigned> permutation =
        drawPermutation(static_cast<unsigned>(entries.size()), seed);
    std::vector<std::string> reordered;
    reordered.reserve(entries.size());
    for (unsigned index : permutation) reordered.push_back(std::move(entries[index]));
    entries.swap(reordered);
}

void shuffleEntries(std::vector<std::string>& entries) {
    shuffleEntries(entries, static_cast<unsigned>(platform::calendarSeconds()));
}
