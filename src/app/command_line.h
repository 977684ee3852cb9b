// Normalising the command words given to the updater.
#pragma once

#include <string>

// Strips spaces (only U+0020) from both ends and lower-cases every byte, in
// place; returns a copy of the result.
std::string normalizeCommandText(std::string& text);
// Joins the count - 1 words (count given like argc) with single spaces,
// each word normalised on its own and the whole once more.
std::string joinCommandWords(int count, const char* const words[]);
