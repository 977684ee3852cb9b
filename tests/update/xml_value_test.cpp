#include "update/xml_value.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/temp_dir.h"

using namespace std::string_literals;

namespace {

const std::string document =
    "<?xml version=\"1.0\"?>\n<Other><Hash>X</Hash></Other>\n"
    "<Update>\n  <Hash>\n\tAB  CD\n  </Hash>\n  <Codebase>https://h/p?a=1&amp;b=2"
    "</Codebase>\n  <Listfile><b>x</b></Listfile><Empty/>\n</Update>\n";

// A well-formed file with the Version "2.0", filled with spaces to `size` bytes.
std::string versionFileOfSize(std::size_t size) {
    std::string text = "<Update><Version>2.0</Version></Update>";
    text.resize(size, ' ');
    return text;
}

}  // namespace

// Text is condensed and decoded, and only an element's direct text counts.
// Line ends reach the parser as LF (CR LF and a lone CR alike), the first zero
// byte ends the document, a file cut inside a UTF-8 sequence is no document,
// and a file beyond 1 MiB is not read at all.
TEST(XmlValue, ValuesAsReadFromTheFile) {
    const struct {
        std::string bytes;
        const char* element;
        std::string value;
    } cases[] = {
        {document, "Hash", "AB CD"},
        {document, "Codebase", "https://h/p?a=1&b=2"},
        {document, "Listfile", ""},
        {document, "Empty", ""},
        {document, "hash", ""},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Update>\xEB", "Version", ""},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Update><Version>1.0\xF4", "Version", ""},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Update><Version>\xC3\xA9</Version></Update>",
         "Version", "\xC3\xA9"},
        {"<?xml version=\"1.0\"?>\r\n<Update>\r\n  <Version>\r\n    2.5\r\n  </Version>\r\n"
         "</Update>\r\n",
         "Version", "2.5"},
        {"<Update><Predicate><![CDATA[a\rb\r\r\nc\n\rd]]></Predicate></Update>", "Predicate",
         "a\nb\n\nc\n\nd"},
        {"<Update><Version>1.5</Version></Update>\0<junk"s, "Version", "1.5"},
        {"<Update><Version>1.\0"
         "5</Version></Update>"s,
         "Version", ""},
        {"\r", "Version", ""},
        {"", "Version", ""},
        {versionFileOfSize(1 << 20), "Version", "2.0"},
        {versionFileOfSize((1 << 20) + 1), "Version", ""},
    };
    TempDir dir;
    const std::string path = dir.path() + "/m.xml";
    for (const auto& c : cases) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
        EXPECT_EQ(readXmlValue(path, c.element), c.value)
            << testing::PrintToString(c.bytes.substr(0, 80));
    }
    EXPECT_EQ(readXmlValue(dir.path() + "/missing.xml", "Hash"), "");
}
