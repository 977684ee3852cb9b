// Where the browser is installed, read from the registry, and every path of
// the run derived from it. Both run once, while the context is built.
#pragma once

class UpdaterContext;

// The registry keys' form: the 32-bit view under Wow6432Node when the client
// key is there, else the plain one.
void chooseKeyForm(UpdaterContext& context);
// The installation's hive and paths, the data directory (made when missing)
// and the CA bundle; a failure logs its line and sets the state to Fatal.
void locateInstallation(UpdaterContext& context);
