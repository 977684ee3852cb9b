// The random order in which the listed servers are tried: a permutation
// drawn from the runtime library's generator, so that one seed always gives
// one order, whatever the platform's speed.
#pragma once

#include <string>
#include <vector>

// Seeds the generator with `seed` (srand), draws rand() % n until every index
// of the n entries has come once, in the order drawn, discarding repeats, and
// reorders `entries` so that position i holds the entry that stood at the i-th
// index drawn. Nothing happens for no entries.
// n must not exceed RAND_MAX + 1, or the draw never completes; the server list
// keeps n within 32,768, the least RAND_MAX + 1 any runtime has.
void shuffleEntries(std::vector<std::string>& entries, unsigned seed);

// The same, seeded with the calendar time in whole seconds, cut to 32 bits.
void shuffleEntries(std::vector<std::string>& entries);
