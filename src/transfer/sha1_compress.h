// The SHA-1 compression function over whole 64-byte blocks. Two engines sit
// behind it: a portable one and one using the x86 SHA extensions; the faster
// one the CPU supports is picked on first use.
#pragma once

#include <cstddef>
#include <cstdint>

enum class Sha1Engine { Portable, ShaExtensions };

// Compresses `blockCount` consecutive 64-byte blocks into `state`. The
// portable engine builds its message schedule in `workspace`; the other keeps
// it in registers and leaves `workspace` alone.
void sha1CompressBlocks(uint32_t state[5], uint32_t workspace[16], const unsigned char* blocks,
                        size_t blockCount);

bool sha1EngineAvailable(Sha1Engine engine);
Sha1Engine sha1ActiveEngine();
// Makes every later compression run on `engine` (tests and benchmarks pin
// each one). False, with nothing changed, when the CPU lacks it.
bool sha1UseEngine(Sha1Engine engine);

// The engines themselves; call the second only where sha1CpuHasShaExtensions.
void sha1CompressPortable(uint32_t state[5], uint32_t workspace[16], const unsigned char* blocks,
                          size_t blockCount);
void sha1CompressShaExtensions(uint32_t state[5], uint32_t workspace[16],
                               const unsigned char* blocks, size_t blockCount);
bool sha1CpuHasShaExtensions();
