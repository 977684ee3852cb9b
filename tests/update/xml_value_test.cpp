#include "update/xml_value.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

using namespace std::string_literals;

namespace {

std::string writtenFile(const TempDir& dir, const std::string& bytes) {
    const std::string path = dir.path() + "/m.xml";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

// A well-formed file with the Version "2.0", filled with spaces to `size` bytes.
std::string versionFileOfSize(std::size_t size) {
    std::string text = "<Update><Version>2.0</Version></Update>";
    text.resize(size, ' ');
    return text;
}

}  // namespace

TEST(XmlValue, TextIsCondensedAndDecodedAndOnlyDirectTextCounts) {
    TempDir dir;
    const std::string path = dir.path() + "/m.xml";
    std::ofstream(path)
        << "<?xml version=\"1.0\"?>\n<Other><Hash>X</Hash></Other>\n"
           "<Update>\n  <Hash>\n\tAB  CD\n  </Hash>\n  <Codebase>https://h/p?a=1&amp;b=2"
           "</Codebase>\n  <Listfile><b>x</b></Listfile><Empty/>\n</Update>\n";
    EXPECT_EQ(readXmlValue(path, "Hash"), "AB CD");
    EXPECT_EQ(readXmlValue(path, "Codebase"), "https://h/p?a=1&b=2");
    EXPECT_EQ(readXmlValue(path, "Listfile"), "");
    EXPECT_EQ(readXmlValue(path, "Empty"), "");
    EXPECT_EQ(readXmlValue(path, "hash"), "");
    EXPECT_EQ(readXmlValue(dir.path() + "/missing.xml", "Hash"), "");
}

// Line ends reach the parser as LF (CR LF and a lone CR alike), the first zero
// byte ends the document, a file cut inside a UTF-8 sequence is no document,
// and a file beyond 1 MiB is not read at all.
TEST(XmlValue, FileBytesReadAsTheParserExpectsThem) {
    const struct {
        std::string bytes;
        const char* element;
        std::string value;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Update>\xEB", "Version", ""},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Update>\xEB", "Version", ""},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Update><Version>1.0\xF4", "Version", ""},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Update><Version>\xC3\xA9</Version></Update>",
         "Version", "\xC3\xA9"},
        {"<?xml version=\"1.0\"?>\r\n<Update>\r\n  <Version>\r\n    2.5\r\n  </Version>\r\n"
         "</Update>\r\n",
         "Version", "2.5"},
        {"<Update><Predicate><![CDATA[v <\r\n3.0]]></Predicate></Update>", "Predicate", "v <\n3.0"},
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
    for (const auto& [bytes, element, value] : cases) {
        EXPECT_EQ(readXmlValue(writtenFile(dir, bytes), element), value)
            << testing::PrintToString(bytes.substr(0, 80));
    }
}
