// The file is read here and handed to the parser as text, not loaded by the
// parser itself: its loader ends the text with a single zero byte, and the
// parser steps over a UTF-8 sequence whole, so a file that ended in a lead
// byte made it read past the buffer.
#include "update/xml_value.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/stdio_file.h"

namespace {

// A UTF-8 sequence is at most 4 bytes: a step over one that starts at the
// last byte of the text lands 3 bytes past the terminator and reads there.
constexpr long terminatorAndPadding = 4;

// The file's bytes followed by zero bytes; null when it cannot be opened or
// read whole, or is larger than xmlFileByteLimit.
std::unique_ptr<char[]> readPadded(const std::string& path, long& length) {
    StdioFile file(path, "rb");
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return nullptr;
    length = std::ftell(file.get());
    if (length < 0 || length > xmlFileByteLimit || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        return nullptr;
    }
    std::unique_ptr<char[]> text(new char[length + terminatorAndPadding]());
    if (std::fread(text.get(), 1, length, file.get()) != static_cast<std::size_t>(length)) {
        return nullptr;
    }
    return text;
}

// In place, as the parser's own loader does before parsing: the text ends at
// its first zero byte, and CR LF and a lone CR become LF.
void normaliseLineEnds(char* text, long length) {
    const char* read = text;
    char* write = text;
    while (*read) {
        if (*read == '\r') {
            *write++ = '\n';
            if (*++read == '\n') ++read;
        } else {
            *write++ = *read++;
        }
    }
    std::fill(write, text + length, '\0');
}

}  // namespace

namespace {

// The document's top-level "Update" element, or null.
const TiXmlNode* updateElement(TiXmlDocument& document, char* text, long length) {
    normaliseLineEnds(text, length);
    document.Parse(text, nullptr, TIXML_DEFAULT_ENCODING);
    if (document.Error()) return nullptr;
    const TiXmlNode* update = document.FirstChild("Update");
    return update && update->ToElement() ? update : nullptr;
}

std::string valueOfPadded(char* text, long length, const std::string& elementName) {
    TiXmlDocument document;
    const TiXmlNode* update = updateElement(document, text, length);
    if (!update) return std::string();
    const TiXmlNode* element = update->FirstChild(elementName.c_str());
    if (!element || !element->ToElement()) return std::string();
    const TiXmlNode* textNode = element->FirstChild();
    return textNode && textNode->ToText() ? std::string(textNode->Value()) : std::string();
}

std::vector<XmlElement> elementsOfPadded(char* text, long length, const std::string& name) {
    std::vector<XmlElement> elements;
    TiXmlDocument document;
    const TiXmlNode* update = updateElement(document, text, length);
    for (const TiXmlElement* element = update ? update->FirstChildElement(name.c_str()) : nullptr;
         element; element = element->NextSiblingElement(name.c_str())) {
        XmlElement read;
        for (const TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next())
            read.attributes[a->Name()] = a->Value();
        read.text = element->GetText() ? element->GetText() : "";
        elements.push_back(read);
    }
    return elements;
}

std::unique_ptr<char[]> paddedCopy(const std::string& text) {
    std::unique_ptr<char[]> padded(new char[text.size() + terminatorAndPadding]());
    std::copy(text.begin(), text.end(), padded.get());
    return padded;
}

}  // namespace

std::vector<XmlElement> readXmlElements(const std::string& filePath,
                                        const std::string& elementName) {
    long length = 0;
    const std::unique_ptr<char[]> text = readPadded(filePath, length);
    if (!text) return {};
    return elementsOfPadded(text.get(), length, elementName);
}

std::vector<XmlElement> xmlElementsOfText(const std::string& text, const std::string& elementName) {
    const long length = static_cast<long>(text.size());
    if (length > xmlFileByteLimit) return {};
    return elementsOfPadded(paddedCopy(text).get(), length, elementName);
}

std::string readXmlValue(const std::string& filePath, const std::string& elementName) {
    long length = 0;
    const std::unique_ptr<char[]> text = readPadded(filePath, length);
    if (!text) return std::string();
    return valueOfPadded(text.get(), length, elementName);
}

std::string xmlValueOfText(const std::string& text, const std::string& elementName) {
    const long length = static_cast<long>(text.size());
    if (length > xmlFileByteLimit) return std::string();
    return valueOfPadded(paddedCopy(text).get(), length, elementName);
}
