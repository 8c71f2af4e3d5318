#pragma once
// Resolves a colon path ("device:general:serialnumber") element by element.
#include <string>

namespace tinyxml2 {
class XMLNode;
}

// Each segment selects the first child element of that name. All found: *out is the last
// element's text ("" without text) and the result is true; else false and *out is untouched.
bool FindXmlText(tinyxml2::XMLNode* root, std::string path, std::string* out);
