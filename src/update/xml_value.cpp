#include "update/xml_value.h"

#include <tinyxml.h>

std::string readXmlValue(const std::string& filePath, const std::string& elementName) {
    TiXmlDocument document(filePath.c_str());
    if (!document.LoadFile()) return std::string();
    const TiXmlNode* update = document.FirstChild("Update");
    if (!update || !update->ToElement()) return std::string();
    const TiXmlNode* element = update->FirstChild(elementName.c_str());
    if (!element || !element->ToElement()) return std::string();
    const TiXmlNode* text = element->FirstChild();
    return text && text->ToText() ? std::string(text->Value()) : std::string();
}
