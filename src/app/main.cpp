// PelorinAutoUpdate: one start, one action, exit code 0; the log tells the rest.
#include "app/command_dispatch.h"
#include "core/process_count.h"
#include "core/updater_context.h"
#include "platform/platform.h"

int main(int argc, char* argv[]) {
    // The running program counts itself once; a second copy means another
    // update run is under way, and this one must not truncate its log.
    if (isUpdateRun(argc) && countProcessesByName(platform::updaterExecutableName) > 1) return 0;
    UpdaterContext context;
    context.releasePublicKey = PELORIN_RELEASE_PUBLIC_KEY;
    dispatchCommand(context, argc, argv);
    return 0;
}
