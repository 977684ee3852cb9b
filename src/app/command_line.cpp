#include "app/command_line.h"

#include "core/text.h"

std::string normalizeCommandText(std::string& text) {
    text = lowerCaseAscii(std::string(withoutOuterSpaces(text)));
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
