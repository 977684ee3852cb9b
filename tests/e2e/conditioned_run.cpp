// pelorin_conditioned_run CONNECT_SECONDS LOW_SPEED_SECONDS: the updater's own run with these
// transfer time-outs instead of its fixed 30 s and 60 s.
#include <string>

#include "app/command_dispatch.h"
#include "core/updater_context.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    UpdaterContext context;
    context.transferTimeouts.connectSeconds = std::stol(argv[1]);
    context.transferTimeouts.lowSpeedSeconds = std::stol(argv[2]);
    const char* const updaterArgv[] = {"PelorinAutoUpdate", nullptr};
    dispatchCommand(context, 1, updaterArgv);
}
