// The transfer rules on a bare handle, in both builds: the schemes a server
// list may name reach the network; any other never does.
#include "transfer/transfer_options.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"

TEST(TransferOptions, OnlyTheSchemesOfAServerListAreFetched) {
    const TempDir dir;
    const struct {
        const char* url;
        CURLcode expected;
    } cases[] = {
        {"https://127.0.0.1:1/Win/UpdateWin.xml", CURLE_COULDNT_CONNECT},
        {"http://127.0.0.1:1/Win/UpdateWin.xml", CURLE_COULDNT_CONNECT},
        {"file:///Win/UpdateWin.xml", CURLE_UNSUPPORTED_PROTOCOL},
        {"dict://127.0.0.1:1/Win", CURLE_UNSUPPORTED_PROTOCOL},
    };
    for (const auto& c : cases) {
        CURL* handle = curl_easy_init();
        ASSERT_NE(handle, nullptr);
        curl_easy_setopt(handle, CURLOPT_URL, c.url);
        applyTransferOptions(handle, dir.path() + "/PelorinCert.pem", TransferTimeouts(),
                             manifestByteLimit);
        EXPECT_EQ(curl_easy_perform(handle), c.expected) << c.url;
        curl_easy_cleanup(handle);
    }
}
