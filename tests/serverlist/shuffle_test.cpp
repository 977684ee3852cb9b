// The random order of the server list: every entry exactly once, every order
// reachable, and one seed always giving one order.
#include "serverlist/shuffle.h"

#include <cstdlib>
#include <set>

#include "platform/platform.h"
#include "serverlist/list_fixture.h"

namespace {

using Urls = std::vector<std::string>;

Urls numberedEntries(std::size_t count) {
    Urls entries;
    for (std::size_t i = 0; i < count; ++i) entries.push_back("https://s" + std::to_string(i));
    return entries;
}

Urls sortedCopy(Urls entries) {
    std::sort(entries.begin(), entries.end());
    return entries;
}

Urls shuffled(Urls entries, unsigned seed) {
    shuffleEntries(entries, seed);
    return entries;
}

// The order as the runtime's generator dictates it, drawn the slow way: each
// index is looked for among those already drawn.
Urls drawnOrder(const Urls& entries, unsigned seed) {
    std::srand(seed);
    std::vector<std::size_t> permutation;
    while (permutation.size() < entries.size()) {
        const std::size_t index = static_cast<std::size_t>(std::rand()) % entries.size();
        bool seen = false;
        for (std::size_t drawn : permutation) seen = seen || drawn == index;
        if (!seen) permutation.push_back(index);
    }
    Urls order;
    for (std::size_t index : permutation) order.push_back(entries[index]);
    return order;
}

}  // namespace

using ServerListShuffle = ListFixture;

TEST_F(ServerListShuffle, OneEntryStaysThatEntry) {
    auto list = loadList("https://only.example\n");
    EXPECT_EQ(list->urls, Urls{"https://only.example/Win/UpdateWin.xml"});
}

TEST(Shuffle, NoEntriesStayNone) {
    Urls none;
    shuffleEntries(none, 1);
    EXPECT_TRUE(none.empty());
}

TEST(Shuffle, EveryOrderOfThreeIsReachableWithEachEntryOnce) {
    const Urls entries = numberedEntries(3);
    std::set<Urls> orders;
    for (unsigned seed = 0; seed < 200; ++seed) {
        const Urls order = shuffled(entries, seed);
        EXPECT_EQ(std::set<std::string>(order.begin(), order.end()).size(), 3u);
        EXPECT_EQ(sortedCopy(order), entries);
        orders.insert(order);
    }
    EXPECT_EQ(orders.size(), 6u);
}

TEST(Shuffle, SameSeedGivesTheSameOrder) {
    const Urls entries = numberedEntries(50);
    EXPECT_EQ(shuffled(entries, 12345), shuffled(entries, 12345));
    EXPECT_NE(shuffled(entries, 12345), shuffled(entries, 54321));
}

// The constant-time test for a drawn index must not change which order a
// seed gives.
TEST(Shuffle, OrderFollowsTheGeneratorsDraws) {
    for (std::size_t count : {1u, 2u, 7u, 1000u}) {
        const Urls entries = numberedEntries(count);
        for (unsigned seed : {0u, 1u, 1700000000u}) {
            EXPECT_EQ(shuffled(entries, seed), drawnOrder(entries, seed)) << count << " " << seed;
        }
    }
}

// Each load seeds the generator with the calendar time, so two loads within
// one second give one order, the order of that second's seed.
TEST_F(ServerListShuffle, LoadsWithinOneSecondGiveTheOrderOfThatSecond) {
    std::string content;
    for (const std::string& entry : numberedEntries(40)) content += entry + "/\n";
    auto list = loadList(content);
    Urls fileOrder;
    for (const std::string& entry : numberedEntries(40)) {
        fileOrder.push_back(entry + "/Win/UpdateWin.xml");
    }
    for (int attempt = 0; attempt < 10; ++attempt) {
        const long long before = platform::calendarSeconds();
        list->load();
        const Urls first = list->urls;
        list->load();
        if (platform::calendarSeconds() != before) continue;  // a second boundary fell between
        EXPECT_EQ(list->urls, first);
        EXPECT_EQ(first, shuffled(fileOrder, static_cast<unsigned>(before)));
        return;
    }
    FAIL() << "every attempt crossed a second boundary";
}
