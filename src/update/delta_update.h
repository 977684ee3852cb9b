// A delta release, taken when the manifest offers one from the installed
// version and it applies; the full package otherwise, in the same run.
#pragma once

class UpdaterContext;

// True when the install went the delta's way (to its copy, whatever came of
// it). False when the full package is to be downloaded: the manifest names no
// delta (nothing logged, the run is today's), none from the installed
// version, or the delta failed on its way: one line says why.
bool updateFromDelta(UpdaterContext& context);
