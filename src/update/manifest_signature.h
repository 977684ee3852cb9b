// The release signature beside each manifest, for a build that carries a
// release key: fetched on the manifest's handle, judged, and the highest
// serial accepted kept in the data folder (ReleaseSerial.txt) so that no
// server can take the installation back to an older release.
#pragma once

#include <string>

class TransferHandle;
class UpdaterContext;

// True when the signature at `url` + ".sig" holds for the manifest just
// fetched from `url`; otherwise false, with `manifestRefusal` set.
bool manifestSignatureAccepted(UpdaterContext& context, TransferHandle& handle,
                               const std::string& url);
