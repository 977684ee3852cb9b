// The release signature beside each manifest, for a build that carries a
// release key: fetched on the manifest's handle, judged, and the accepted
// release (its serial and the SHA-256 of its manifest) kept in the data folder
// (ReleaseSerial.txt) so that no server can take the installation back to an
// older release, nor sign another manifest under the same serial.
#pragma once

#include <string>

class TransferHandle;
class UpdaterContext;

// True when the signature at `url` + ".sig" holds for `manifest`, the bytes
// just fetched from `url`, and the manifest names the SHA-256 of its package
// (and of its server list, when it names one); otherwise false, with
// `manifestRefusal` set. A ReleaseSerial.txt that is present but does not read
// whole in its format refuses every manifest and is left as it is.
bool manifestSignatureAccepted(UpdaterContext& context, TransferHandle& handle,
                               const std::string& url, const std::string& manifest);
