#pragma once

#include <string>

// The text of the element `elementName` under the file's top-level "Update"
// element, as the parser delivers it (white space condensed, entities
// decoded); empty when the file, the element or its text is missing.
std::string readXmlValue(const std::string& filePath, const std::string& elementName);
