#include "app/command_line.h"

#include <cctype>

std::string normalizeCommandText(std::string& text) {
    if (!text.empty()) {
        const std::size_t first = text.find_first_not_of(' ');
        if (first == std::string::npos) {
            text.clear();
        } else {
            text.erase(text.find_last_not_of(' ') + 1);
            text.erase(0, first);
        }
    }
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string joinCommandWords(int count, const char* const words[]) {
    std::string joined;
    for (int index = 0; index < count - 1; ++index) {
        std::string word = words[index];
        joined += normalizeCommandText(word) + " ";
    }
    return normalizeCommandText(joined);
}
