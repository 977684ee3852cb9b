// The mirror report, for a person (a table) or for a program (JSON).
#pragma once

#include <ostream>

#include "mirrors/mirror_check.h"

// The main server's offer, then one line per mirror, worst first, then the
// count of each class.
void writeTable(const MirrorReport& report, std::ostream& out);

// One JSON object: "main", "mirrors" (worst first, one mirror per line) and
// "counts".
void writeJson(const MirrorReport& report, std::ostream& out);
