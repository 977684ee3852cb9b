// The update manifest: fetched into the data directory as
// serverManifest.xml, its server list fields acted on at once, its offer
// judged against the installed version.
#pragma once

#include <string>
#include <vector>

#include "update/xml_value.h"

class UpdaterContext;

// True when the manifest at `url` was transferred; `serverListUrl` (and with
// `readCodebase`, `packageUrl`) then hold its values, and the server list may
// have been refreshed. False when the transfer failed (state Error) or could
// not be set up (state Fatal). With a release key, a refused manifest is read
// as nothing: from a listed server (`readCodebase` and not `lastResort`) it
// logs the corrupt-manifest line with its reason and gives false, as a failed
// transfer; otherwise it gives true with `manifestRefusal` set, and
// evaluateManifest ends the run.
bool fetchManifest(UpdaterContext& context, const std::string& url, bool readCodebase,
                   bool lastResort = false);
// True when the manifest offers an update to the installed version; sets
// `newVersion`, `installedVersion` and `updateFound`. A corrupt or refused
// manifest sets the state to Fatal.
bool evaluateManifest(UpdaterContext& context);
// An element of the fetched manifest, as readXmlValue gives it.
std::string readManifestValue(const UpdaterContext& context, const std::string& elementName);
// Every such element of the fetched manifest, read as readManifestValue reads.
std::vector<XmlElement> readManifestElements(const UpdaterContext& context,
                                             const std::string& elementName);
// The installed release's version text, from Application\UpdatePelorin.xml.
std::string readInstalledVersion(const UpdaterContext& context);
