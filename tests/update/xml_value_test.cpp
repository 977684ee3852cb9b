#include "update/xml_value.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

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
