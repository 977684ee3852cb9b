#include "update/xml_value.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/temp_dir.h"

using namespace std::string_literals;

const std::string document =
    "<?xml version=\"1.0\"?>\n<Other><Hash>X</Hash></Other>\n"
    "<Update>\n  <Hash>\n\tAB  CD\n  </Hash>\n  <Codebase>https://h/p?a=1&amp;b=2"
    "</Codebase>\n  <Listfile><b>x</b></Listfile><Empty/>\n</Update>\n";
const std::string version = "<Update><Version>2.0</Version></Update>";

// Direct text, condensed, decoded, LF-ended; a zero byte ends it; cut UTF-8 or over 1 MiB: none.
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
        {"<Update><Version>1.\0"s + "5</Version></Update>", "Version", ""},
        {"\r", "Version", ""},
        {"", "Version", ""},
        {version + std::string((1 << 20) - version.size(), ' '), "Version", "2.0"},
        {version + std::string((1 << 20) + 1 - version.size(), ' '), "Version", ""},
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
