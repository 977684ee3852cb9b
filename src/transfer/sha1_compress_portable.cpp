// Portable SHA-1 compression, unrolled, with the message schedule kept as a
// rolling window of sixteen words. A full eighty-word schedule looks simpler
// but GCC vectorises its expansion into something slower.
#include "transfer/sha1_compress.h"

namespace {

inline uint32_t rotateLeft(uint32_t value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

inline uint32_t loadBigEndian(const unsigned char* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}

inline uint32_t choose(uint32_t b, uint32_t c, uint32_t d) {
    return d ^ (b & (c ^ d));
}
inline uint32_t parity(uint32_t b, uint32_t c, uint32_t d) {
    return b ^ c ^ d;
}
// Written as a sum of two disjoint parts so both can be added independently.
inline uint32_t majority(uint32_t b, uint32_t c, uint32_t d) {
    return (b & c) + (d & (b ^ c));
}

constexpr uint32_t kRounds0 = 0x5A827999;
constexpr uint32_t kRounds20 = 0x6ED9EBA1;
constexpr uint32_t kRounds40 = 0x8F1BBCDC;
constexpr uint32_t kRounds60 = 0xCA62C1D6;

void compressBlock(uint32_t state[5], uint32_t* w, const unsigned char* block) {
    for (int i = 0; i < 16; ++i) w[i] = loadBigEndian(block + 4 * i);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];

// Word i of the schedule; from 16 on it replaces word i - 16 in the window.
#define SHA1_WORD(i)                     \
    ((i) < 16 ? w[(i)]                   \
              : (w[(i)&15] = rotateLeft( \
                     w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i)&15], 1)))
#define SHA1_STEP(f, k, i, a, b, c, d, e)                    \
    e += rotateLeft(a, 5) + f(b, c, d) + (k) + SHA1_WORD(i); \
    b = rotateLeft(b, 30)
// Five steps bring the five variables back to their starting roles.
#define SHA1_FIVE_STEPS(f, k, i)             \
    SHA1_STEP(f, k, (i), a, b, c, d, e);     \
    SHA1_STEP(f, k, (i) + 1, e, a, b, c, d); \
    SHA1_STEP(f, k, (i) + 2, d, e, a, b, c); \
    SHA1_STEP(f, k, (i) + 3, c, d, e, a, b); \
    SHA1_STEP(f, k, (i) + 4, b, c, d, e, a)
#define SHA1_TWENTY_STEPS(f, k, i)   \
    SHA1_FIVE_STEPS(f, k, (i));      \
    SHA1_FIVE_STEPS(f, k, (i) + 5);  \
    SHA1_FIVE_STEPS(f, k, (i) + 10); \
    SHA1_FIVE_STEPS(f, k, (i) + 15)

    SHA1_TWENTY_STEPS(choose, kRounds0, 0);
    SHA1_TWENTY_STEPS(parity, kRounds20, 20);
    SHA1_TWENTY_STEPS(majority, kRounds40, 40);
    SHA1_TWENTY_STEPS(parity, kRounds60, 60);

#undef SHA1_TWENTY_STEPS
#undef SHA1_FIVE_STEPS
#undef SHA1_STEP
#undef SHA1_WORD

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

}  // namespace

void sha1CompressPortable(uint32_t state[5], uint32_t workspace[16], const unsigned char* blocks,
                          size_t blockCount) {
    for (size_t i = 0; i < blockCount; ++i) compressBlock(state, workspace, blocks + 64 * i);
}
