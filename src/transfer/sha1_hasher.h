// SHA-1 of a byte stream or a file, with the digest reported as the hash text
// the update servers publish: 40 upper-case hexadecimal digits.
#pragma once

#include <cstdint>
#include <string>

// A plain value object with no heap memory of its own. Use: reset (the
// constructor does it too), append or hashFile, finalize, reportHash. After
// finalize only the digest is meaningful until the next reset.
class Sha1Hasher {
public:
    Sha1Hasher();
    ~Sha1Hasher();

    void reset();
    void append(const void* data, uint32_t length);
    // Takes the whole file into the hash. True only when the file opened and
    // was read to its end; a read error or an unopenable path gives false.
    bool hashFile(const std::wstring& path);
    // Completes the hash into the digest and wipes everything else.
    void finalize();
    // Sets `out` to the digest's 40 upper-case hexadecimal digits.
    void reportHash(std::wstring& out) const;

private:
    void addToBitCount(uint32_t byteCount);

    uint32_t chainingValue[5];
    uint32_t bitCountLow;
    uint32_t bitCountHigh;
    unsigned char blockBuffer[64];
    unsigned char digest[20] = {};
    uint32_t workspace[16];
};
