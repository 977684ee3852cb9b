// Replays one scenario against one target: lays out the installation, starts
// the servers with their files and misbehaviours, runs the updater, then
// compares the whole log line by line and checks the files left behind.
// Mismatches are reported as GoogleTest failures.
#pragma once

#include "e2e/scenario.h"
#include "e2e/updater_target.h"

// The port of the main server the build under test asks, taken from its main
// manifest URL; 0 when that URL is not "https://localhost:PORT/Win/UpdateWin.xml"
// and so cannot be served here.
int mainServerPort();

void replayScenario(const Scenario& scenario, UpdaterTarget& target);
