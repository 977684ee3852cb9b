// What the fuzz targets run against: one installation laid out in a temporary
// folder for the life of the process, an updater context built over it as the
// updater builds its own, and the log text each input adds.
#pragma once

#include <string>

#include "app/updater_context.h"
#include "support/installation.h"

// Built on first use. The environment then points at the installation:
// PELORIN_REGISTRY_ROOT, TMPDIR, and PATH with the stand-in crontab first.
Installation& fuzzInstallation();
UpdaterContext& fuzzContext();

// The log text after the header written since the log was last started, which
// it is again here, so that the log never grows over a long run.
std::string takeLogText(UpdaterContext& context);

// Writes `bytes` as the whole file at `path`.
void writeBytes(const std::string& path, const std::string& bytes);

// Ends the run with `what` on standard error when `holds` is false; libFuzzer
// keeps the input that did it.
void require(bool holds, const char* what);
