// The hash text of a file, as the server list compares it.
#pragma once

#include <string>

// The file's SHA-1 as 40 upper-case hexadecimal digits, or the empty text when
// the path names nothing, a directory, or a file that cannot be read to its end.
std::string hashFileToHex(const std::string& path);

// True when the file can be hashed and its hash text equals `expected`, whole
// and letter case counting. A file that cannot be read matches nothing, not
// even an empty text.
bool fileMatchesHash(const std::string& path, const std::string& expected);
