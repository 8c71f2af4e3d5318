#include "feature_xml.h"

#include "model/feature_desc_base.h"

#include <tinyxml2.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

namespace testing_support {

namespace {

const tinyxml2::XMLElement* node(const tinyxml2::XMLDocument& doc, const std::string& name)
{
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (root == nullptr || name.empty())
        return root;
    for (auto* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        const char* n = e->Attribute("Name");
        if (n != nullptr && name == n)
            return e;
    }
    return nullptr;
}

bool isPointer(const char* tag)
{
    return tag[0] == 'p' && tag[1] >= 'A' && tag[1] <= 'Z';
}

void checkOrder(const tinyxml2::XMLElement* e, std::vector<std::string>& problems)
{
    uint32_t last = 0;
    std::string lastTag;
    for (auto* c = e->FirstChildElement(); c != nullptr; c = c->NextSiblingElement()) {
        const uint32_t rank = Kivu::FeatureDescBase::ChildRank(e->Value(), c->Value());
        if (rank != 0 && rank < last)
            problems.push_back(std::string(c->Value()) + " after " + lastTag + " in " + e->Value());
        if (rank != 0) {
            last = rank;
            lastTag = c->Value();
        }
        checkOrder(c, problems);
    }
}

}  // namespace

LintResult xmllint(const std::string& text)
{
    char path[] = "/tmp/lb_featureXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return {-1, "mkstemp failed"};
    close(fd);
    std::ofstream(path, std::ios::binary) << text;
    const std::string command = std::string("xmllint --noout ") + path + " 2>&1";
    LintResult r{0, {}};
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), p)) > 0)
            r.output.append(buffer, n);
        r.status = pclose(p);
    } else {
        r.status = -1;
    }
    std::remove(path);
    return r;
}

std::vector<std::string> integrityProblems(const std::string& text)
{
    std::vector<std::string> problems;
    for (unsigned char c : text)
        if (c < 0x20 && c != '\t' && c != '\n')
            problems.push_back("control character " + std::to_string(c));
    for (size_t at = text.find("&#x"); at != std::string::npos; at = text.find("&#x", at + 1)) {
        const std::string ref = text.substr(at, 7);
        if (ref != "&#x09;" && ref.substr(0, 6) != "&#x0A;" && ref.substr(0, 6) != "&#x0D;")
            problems.push_back("character reference " + ref);
    }

    tinyxml2::XMLDocument doc;
    if (doc.Parse(text.c_str(), text.size()) != tinyxml2::XML_SUCCESS) {
        problems.push_back(std::string("parse: ") + doc.ErrorStr());
        return problems;
    }
    const tinyxml2::XMLElement* root = doc.RootElement();
    std::set<std::string> names;
    for (auto* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        const char* n = e->Attribute("Name");
        if (n == nullptr)
            problems.push_back(std::string("unnamed ") + e->Value());
        else if (!names.insert(n).second)
            problems.push_back(std::string("name repeated: ") + n);
    }
    for (auto* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        const std::string owner = e->Attribute("Name") != nullptr ? e->Attribute("Name") : "?";
        std::set<std::string> values, entries;
        for (auto* c = e->FirstChildElement(); c != nullptr; c = c->NextSiblingElement()) {
            if (isPointer(c->Value())) {
                const char* t = c->GetText();
                if (t == nullptr || names.count(t) == 0)
                    problems.push_back(owner + "." + c->Value() + " names no node: " + (t ? t : ""));
            }
            if (std::strcmp(c->Value(), "EnumEntry") == 0) {
                const auto* v = c->FirstChildElement("Value");
                const char* n = c->Attribute("Name");
                if (v == nullptr || v->GetText() == nullptr || !values.insert(v->GetText()).second)
                    problems.push_back(owner + ": entry value missing or repeated");
                if (n == nullptr || !entries.insert(n).second)
                    problems.push_back(owner + ": entry name missing or repeated");
                for (auto* x = c->FirstChildElement(); x != nullptr; x = x->NextSiblingElement()) {
                    const char* t = x->GetText();
                    if (isPointer(x->Value()) && (t == nullptr || names.count(t) == 0))
                        problems.push_back(owner + " entry " + x->Value() + " names no node");
                }
            }
        }
    }
    checkOrder(root, problems);
    return problems;
}

Children childrenOf(const std::string& text, const std::string& name)
{
    tinyxml2::XMLDocument doc;
    doc.Parse(text.c_str(), text.size());
    Children out;
    if (const auto* e = node(doc, name)) {
        for (auto* c = e->FirstChildElement(); c != nullptr; c = c->NextSiblingElement())
            out.emplace_back(c->Value(), c->GetText() != nullptr ? c->GetText() : "");
    }
    return out;
}

std::string attributeOf(const std::string& text, const std::string& name, const char* attribute)
{
    tinyxml2::XMLDocument doc;
    doc.Parse(text.c_str(), text.size());
    const auto* e = node(doc, name);
    const char* a = e != nullptr ? e->Attribute(attribute) : nullptr;
    return a != nullptr ? a : "<none>";
}

Children rootNodes(const std::string& text)
{
    tinyxml2::XMLDocument doc;
    doc.Parse(text.c_str(), text.size());
    Children out;
    if (const auto* root = doc.RootElement()) {
        for (auto* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement())
            out.emplace_back(e->Value(), e->Attribute("Name") != nullptr ? e->Attribute("Name") : "");
    }
    return out;
}

}  // namespace testing_support
