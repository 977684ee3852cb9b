// A transfer sent the way the machine reaches the network: through each proxy
// named for its URL in turn, or direct.
#pragma once

#include <string>

#include "transfer/transfer_handle.h"
#include "transfer/transfer_options.h"

class UpdaterContext;

// Makes `handle`'s next transfer go through `proxy`, or direct for the empty
// text. libcurl's own reading of the environment is overruled either way, so
// that the choice logged is the choice made. `withAccountCredentials`: a
// proxy that asks is offered Negotiate and NTLM as the run's account.
void useProxy(CURL* handle, const std::string& proxy, bool withAccountCredentials);

// Fetches `url` on `handle` into `target`, refused beyond `target.limit`,
// through each way platform::proxiesFor names, in order, until one reaches
// the far end; gives the last attempt's libcurl result. Each attempt through
// a proxy logs "Using proxy P for URL ."; a proxy that cannot be reached
// while another way is left logs libcurl's text as a warning. A run that
// names no proxy logs nothing here.
int performThroughProxies(TransferHandle& handle, const std::string& url, BoundedFile& target,
                          UpdaterContext& context);

// A proxy URL as the log names it: without the user's name and password,
// whatever characters they hold.
std::string shownProxy(const std::string& proxy);
