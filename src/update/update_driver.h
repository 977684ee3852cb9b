// The update run: from a clean start to the installed files.
#pragma once

class UpdaterContext;

// Tries each listed server's manifest in the list's order, then the main
// server's; downloads, validates and installs the release it offers. Every
// outcome is in the log; a failure that ends the run sets the state to Fatal.
void runUpdate(UpdaterContext& context);
