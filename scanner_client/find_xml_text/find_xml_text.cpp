#include "find_xml_text.h"

#include <sstream>
#include <tinyxml2.h>

bool FindXmlText(tinyxml2::XMLNode* root, std::string path, std::string* out)
{
    if (!root || path.empty())
        return false;
    std::istringstream segments(path);
    std::string segment;
    tinyxml2::XMLNode* node = root;
    tinyxml2::XMLElement* element = nullptr;
    while (std::getline(segments, segment, ':')) {
        element = node->FirstChildElement(segment.c_str());
        if (!element)
            return false;
        node = element;
    }
    if (!element)
        return false;
    const char* text = element->GetText();
    if (out)
        *out = text ? text : "";
    return true;
}
