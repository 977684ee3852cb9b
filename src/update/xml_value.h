#pragma once

#include <map>
#include <string>
#include <vector>

// The largest file read: a manifest is never larger (its transfer stops at
// 1 MiB), and a larger local version file is no version file of ours.
constexpr long xmlFileByteLimit = 1L << 20;

// The text of the element `elementName` under the file's top-level "Update"
// element, as the parser delivers it (white space condensed, entities
// decoded); empty when the file, the element or its text is missing, and when
// the file holds more than xmlFileByteLimit bytes.
std::string readXmlValue(const std::string& filePath, const std::string& elementName);
// The same over `text` held in memory: the bytes that were verified, not a
// second read of the disk.
std::string xmlValueOfText(const std::string& text, const std::string& elementName);

// Every element `elementName` under the top-level "Update" element, in order:
// its attributes and its text, as the parser delivers them.
struct XmlElement {
    std::map<std::string, std::string> attributes;
    std::string text;
};
std::vector<XmlElement> readXmlElements(const std::string& filePath,
                                        const std::string& elementName);
std::vector<XmlElement> xmlElementsOfText(const std::string& text, const std::string& elementName);
