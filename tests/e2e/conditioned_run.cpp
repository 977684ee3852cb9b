// pelorin_conditioned_run CONNECT_SECONDS LOW_SPEED_SECONDS [UPDATER]: the
// updater's own run, as main makes it, with these transfer time-outs instead
// of its 30 s and 60 s, which it takes from no setting.
#include <string>

#include "app/command_dispatch.h"
#include "app/updater_context.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    UpdaterContext context;
    context.transferTimeouts.connectSeconds = std::stol(argv[1]);
    context.transferTimeouts.lowSpeedSeconds = std::stol(argv[2]);
    const char* const updaterArgv[] = {"PelorinAutoUpdate", nullptr};
    dispatchCommand(context, 1, updaterArgv);
    return 0;
}
