// Any command line with words, through the dispatch: exactly one action (the
// task registered or removed, as the stand-in crontab shows) or the
// invalid-command line, never both; an action only for a word count that has
// one, and never the invalid line for a text the count accepts.
//
// The input is the words, separated by zero bytes (so always one word at
// least: the update run without words is not fuzzed here).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_dispatch.h"
#include "fuzz/fuzz_installation.h"

namespace {

const std::string taskTag = "# PelorinUpdateTask";

std::vector<std::string> wordsOf(const std::string& input) {
    std::vector<std::string> words(1);
    for (char c : input) {
        if (c == '\0') {
            words.emplace_back();
        } else {
            words.back() += c;
        }
    }
    return words;
}

int taggedEntries(const std::string& crontabPath) {
    const std::string table = readFile(crontabPath);
    int count = 0;
    for (std::size_t at = table.find(taskTag); at != std::string::npos;
         at = table.find(taskTag, at + 1)) {
        ++count;
    }
    return count;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The text the invalid-command line quotes: normalised, and no command for
// this many words.
void checkInvalidText(const std::string& text, int argc) {
    require(text.empty() || (text.front() != ' ' && text.back() != ' '),
            "the quoted text keeps outer spaces");
    require(std::none_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; }),
            "the quoted text is not lower case");
    const bool install = text == "schtask install admin" || text == "schtask install nonadmin";
    const bool uninstall = text == "schtask uninstall";
    require(!(install && (argc == 2 || argc == 4)) && !(uninstall && (argc == 2 || argc == 3)),
            "a command was called invalid for a word count that accepts it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    UpdaterContext& context = fuzzContext();
    const std::string crontabPath = fuzzInstallation().crontabPath();
    const std::vector<std::string> words =
        wordsOf(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<const char*> argv{"PelorinAutoUpdate"};
    for (const std::string& word : words) argv.push_back(word.c_str());
    const int argc = static_cast<int>(argv.size());
    const int entriesBefore = taggedEntries(crontabPath);

    context.state = LogLevel::Info;
    dispatchCommand(context, argc, argv.data());
    const std::string log = takeLogText(context);
    const int entriesAfter = taggedEntries(crontabPath);

    const std::string invalidStart = "Error! Command \"";
    const std::string invalidEnd = "\" is invalid.\n";
    if (startsWith(log, "Attempting to register scheduler...\n")) {
        require(argc == 2 || argc == 4, "a registration for a word count without one");
        require(log.find(invalidStart) == std::string::npos, "a registration and the invalid line");
        require(entriesAfter == 1, "a registration left other than one task entry");
    } else if (startsWith(log, "Attempting to de-register scheduler...\n")) {
        require(argc == 2 || argc == 3, "a removal for a word count without one");
        require(log.find(invalidStart) == std::string::npos, "a removal and the invalid line");
        require(entriesAfter == 0, "a removal left a task entry");
    } else {
        require(startsWith(log, invalidStart) && endsWith(log, invalidEnd) &&
                    log.size() >= invalidStart.size() + invalidEnd.size(),
                "neither an action nor the invalid-command line");
        checkInvalidText(
            log.substr(invalidStart.size(), log.size() - invalidStart.size() - invalidEnd.size()),
            argc);
        require(entriesAfter == entriesBefore, "the invalid command changed the crontab");
    }
    return 0;
}
