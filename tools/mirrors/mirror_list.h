// The mirrors a server list names, read with the updater's own line rules.
#pragma once

#include <string>
#include <vector>

#include "mirrors/parallel_transfers.h"

// Fills `manifestUrls` with the manifest URL of every entry of the server
// list at `source`, each once, in the order of the list (the updater shuffles
// them; a report need not). `source` is a file, or a URL (anything with
// "://"), fetched into `workFile` under the updater's transfer rules. False
// with `problem` set when the list cannot be read or fetched.
bool loadMirrorList(const std::string& source, const TransferSettings& settings,
                    const std::string& workFile, std::vector<std::string>& manifestUrls,
                    std::string& problem);
