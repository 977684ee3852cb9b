// SHA-1 compression on the x86 SHA extensions. Only this file is compiled for
// them (through target attributes), so the program still runs on CPUs
// without; the dispatcher calls in here only after sha1CpuHasShaExtensions.
#include "transfer/sha1_compress.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

#include <utility>

#define SHA1_SHANI_TARGET __attribute__((target("sha,sse4.1")))
#define SHA1_SHANI_INLINE __attribute__((target("sha,sse4.1"), always_inline)) inline

namespace {

// The running state of one block: the four words a..d (a in the top lane),
// the e term of the next four rounds, and the window of four four-word
// message groups, group g sitting in slot g % 4.
struct BlockState {
    __m128i abcd;
    __m128i e;
    __m128i group[4];
};

// Rounds 4g .. 4g+3, interleaved with the schedule work that this group's
// words allow: finishing group g+1, adding into group g+2, starting g+3.
template <int G>
SHA1_SHANI_INLINE void fourRounds(BlockState& s) {
    constexpr int kCurrent = G % 4;
    const __m128i words = s.group[kCurrent];
    const __m128i eWithWords = G == 0 ? _mm_add_epi32(s.e, words) : _mm_sha1nexte_epu32(s.e, words);
    s.e = s.abcd;
    if constexpr (G >= 3 && G <= 18) {
        s.group[(G + 1) % 4] = _mm_sha1msg2_epu32(s.group[(G + 1) % 4], words);
    }
    s.abcd = _mm_sha1rnds4_epu32(s.abcd, eWithWords, G / 5);
    if constexpr (G >= 2 && G <= 17) {
        s.group[(G + 2) % 4] = _mm_xor_si128(s.group[(G + 2) % 4], words);
    }
    if constexpr (G >= 1 && G <= 16) {
        s.group[(G + 3) % 4] = _mm_sha1msg1_epu32(s.group[(G + 3) % 4], words);
    }
}

template <int... G>
SHA1_SHANI_INLINE void allRounds(BlockState& s, std::integer_sequence<int, G...>) {
    (fourRounds<G>(s), ...);
}

}  // namespace

SHA1_SHANI_TARGET void sha1CompressShaExtensions(uint32_t state[5], uint32_t* /*workspace*/,
                                                 const unsigned char* blocks, size_t blockCount) {
    // Reverses all sixteen bytes: big-endian words, and word 0 in the top lane.
    const __m128i byteReverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

    for (size_t n = 0; n < blockCount; ++n, blocks += 64) {
        BlockState s;
        s.abcd = abcd;
        s.e = e;
        for (int i = 0; i < 4; ++i) {
            const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i));
            s.group[i] = _mm_shuffle_epi8(raw, byteReverse);
        }
        allRounds(s, std::make_integer_sequence<int, 20>());
        e = _mm_sha1nexte_epu32(s.e, e);
        abcd = _mm_add_epi32(s.abcd, abcd);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

bool sha1CpuHasShaExtensions() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool hasShuffles = (ecx & bit_SSSE3) != 0 && (ecx & bit_SSE4_1) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return hasShuffles && (ebx & bit_SHA) != 0;
}

#else

// Other processors have no such extensions; the dispatcher never calls this.
void sha1CompressShaExtensions(uint32_t state[5], uint32_t workspace[16],
                               const unsigned char* blocks, size_t blockCount) {
    sha1CompressPortable(state, workspace, blocks, blockCount);
}

bool sha1CpuHasShaExtensions() {
    return false;
}

#endif
