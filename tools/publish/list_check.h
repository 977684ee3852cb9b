// Whether every updater could use a server list as published.
#pragma once

#include <string>

// Reads the list at `listPath` with the updater's own line rules and gives
// the reason in a sentence why it must not be published as list version
// `announcedVersion`, or the empty text when it may: it cannot be read, its
// own version line says another version, it names no server, or it names a
// server without https while `allowUnauthenticatedMirrors` is false.
std::string listProblem(const std::string& listPath, const std::string& announcedVersion,
                        bool allowUnauthenticatedMirrors);
