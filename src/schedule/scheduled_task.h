// Registration and removal of the scheduled task that starts the updater
// every 5 hours through its launcher script.
#pragma once

class UpdaterContext;

// Replaces any task of the same name. The administrative form takes the task
// definition beside the updater when there is one (used once, then removed).
void registerScheduledTask(UpdaterContext& context, bool administrative);
void deregisterScheduledTask(UpdaterContext& context);
