// The SHA-256 of a file, as a signed manifest carries it.
#pragma once

#include <string>

// 64 lower-case hexadecimal digits, or the empty text when the file cannot be
// opened or read to its end. The file is read in pieces, so a package of any
// size takes little memory.
std::string fileSha256Hex(const std::string& path);
