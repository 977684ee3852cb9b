// SHA-256 of a file, for the builds with a release key: the signed manifest
// binds the package and the server list by it as well as by SHA-1.
#pragma once

#include <string>

// 64 lower-case hexadecimal digits, or the empty text when the file cannot be
// read to its end.
std::string fileSha256Hex(const std::string& path);
