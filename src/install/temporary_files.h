// Removal of the run's temporary files: the manifest always, the package
// copies after an update was found, a cut download's bytes unless they can
// be resumed.
#pragma once

class UpdaterContext;

// With `verbose`, the two lines that close every log: "Cleaning temporary
// files.." and "Temporary files cleaned up successfully".
void cleanTemporaryFiles(UpdaterContext& context, bool verbose);
