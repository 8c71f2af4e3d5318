#include "model/feature_desc_base.h"

#include <cstring>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <vector>

namespace Kivu {

namespace {

using Ranks = std::vector<std::vector<const char*>>;  // one rank per row, tags sharing it

const Ranks kCommon = {{"Extension"}, {"ToolTip"}, {"Description"}, {"DisplayName"}, {"Visibility"},
                       {"EventID"}, {"pIsImplemented"}, {"pIsAvailable"}, {"pIsLocked"},
                       {"ImposedAccessMode"}, {"pAlias"}};

const Ranks kRegisterHead = {{"Streamable"}, {"Address", "IntSwissKnife", "pAddress", "pIndex"},
                             {"Length", "pLength"}, {"AccessMode"}, {"pPort"}, {"Cachable"},
                             {"PollingTime"}, {"pInvalidator"}};

Ranks join(std::initializer_list<const Ranks*> parts)
{
    Ranks all;
    for (const Ranks* p : parts)
        all.insert(all.end(), p->begin(), p->end());
    return all;
}

std::map<std::string, uint32_t, std::less<>> ranked(const Ranks& rows)
{
    std::map<std::string, uint32_t, std::less<>> m;
    uint32_t rank = 0;
    for (const auto& row : rows) {
        ++rank;
        for (const char* tag : row)
            m.emplace(tag, rank);
    }
    return m;
}

FeatureDescBase::OrderTable buildTable()
{
    const Ranks top = {{"Node"}, {"Category"}, {"Integer"}, {"IntReg"}, {"MaskedIntReg"}, {"Boolean"},
                       {"Command"}, {"Enumeration"}, {"EnumEntry"}, {"Float"}, {"FloatReg"},
                       {"StringReg"}, {"Register"}, {"Converter"}, {"IntConverter"}, {"SwissKnife"},
                       {"IntSwissKnife"}, {"Port"}, {"ConfRom"}, {"TextDesc"}, {"IntKey"},
                       {"AdvFeatureLock"}, {"SmartFeature"}, {"Group"}, {"StructReg"}};
    const Ranks category = {{"pFeature"}};
    const Ranks integer = {{"Streamable"}, {"Value", "pValue"}, {"Min", "pMin"}, {"Max", "pMax"},
                           {"Inc", "pInc"}, {"Representation"}, {"pSelected"}};
    const Ranks intReg = {{"Sign"}, {"Endianess"}, {"Representation"}, {"pSelected"}};
    const Ranks masked = {{"Bit", "LSB", "MSB"}, {}, {"Sign"}, {"Endianess"}, {"Representation"},
                          {"pSelected"}};
    const Ranks structReg = {{"Endianess"}, {"StructEntry"}};
    const Ranks structEntry = {{"Extension"}, {"ToolTip"}, {"DisplayName"}, {"Visibility"},
                               {"pIsImplemented"}, {"pIsAvailable"}, {"pIsLocked"}, {"pInvalidator"},
                               {"AccessMode"}, {"Cachable"}, {"PollingTime"}, {"Streamable"},
                               {"Bit", "LSB", "MSB"}, {}, {"Sign"}, {"pSelected"}};
    const Ranks command = {{"Value", "pValue"}, {"CommandValue", "pCommandValue"}, {"PollingTime"}};
    const Ranks boolean = {{"Streamable"}, {"Value", "pValue"}, {"OnValue"}, {"OffValue"}};
    const Ranks floatRanks = {{"Streamable"}, {"pValue", "Value"}, {"Min", "pMin"}, {"Max", "pMax"},
                              {"Unit"}, {"Representation"}};
    const Ranks converter = {{"Streamable"}, {"pValue"}, {"Unit"}, {"Representation"}, {"Slope"}};
    const Ranks floatReg = {{"Endianess"}, {"Unit"}, {"Representation"}};
    const Ranks enumeration = {{"Streamable"}, {"EnumEntry", "pEnumEntry"}, {"Value", "pValue"},
                               {"pSelected"}};
    const Ranks enumEntry = {{"Value"}, {"Symbolic"}};
    const Ranks swissKnife = {{"Streamable"}, {"pVariable"}, {"Formula"}, {"Representation"}};
    const Ranks port = {{"ChunkID", "pChunkID"}, {"SwapEndianess"}};
    const Ranks confRom = {{"Unit"}, {"Address", "IntSwissKnife", "pAddress"}, {"Length"}, {"pPort"},
                           {"TextDesc", "IntKey"}};
    const Ranks textDesc = {{"p1212Parser"}, {"Key"}};
    const Ranks dcamLock = {{"FeatureID"}, {"Timeout"}};
    const Ranks smartFeatureAdr = {{"FeatureID"}, {"Address", "IntSwissKnife", "pAddress"}, {"pPort"},
                                   {"pIsImplemented"}, {"pIsAvailable"}};
    const Ranks none;

    FeatureDescBase::OrderTable t;
    t["RegisterDescription"] = ranked(top);
    t["Group"] = ranked(top);
    t["Node"] = ranked(kCommon);
    t["Category"] = ranked(join({&kCommon, &category}));
    t["Integer"] = ranked(join({&kCommon, &integer}));
    t["IntReg"] = ranked(join({&kCommon, &kRegisterHead, &intReg}));
    t["MaskedIntReg"] = ranked(join({&kCommon, &kRegisterHead, &masked}));
    t["StructReg"] = ranked(join({&kCommon, &kRegisterHead, &structReg}));
    t["StructEntry"] = ranked(structEntry);
    t["Command"] = ranked(join({&kCommon, &command}));
    t["Boolean"] = ranked(join({&kCommon, &boolean}));
    t["Float"] = ranked(join({&kCommon, &floatRanks}));
    t["Converter"] = ranked(join({&kCommon, &converter}));
    t["IntConverter"] = ranked(join({&kCommon, &converter}));
    t["FloatReg"] = ranked(join({&kCommon, &kRegisterHead, &floatReg}));
    t["Enumeration"] = ranked(join({&kCommon, &enumeration}));
    t["EnumEntry"] = ranked(join({&kCommon, &enumEntry}));
    t["StringReg"] = ranked(join({&kCommon, &kRegisterHead}));
    t["Register"] = ranked(join({&kCommon, &kRegisterHead}));
    t["SwissKnife"] = ranked(join({&kCommon, &swissKnife}));
    t["IntSwissKnife"] = ranked(join({&kCommon, &swissKnife}));
    t["Port"] = ranked(join({&kCommon, &port}));
    t["ConfRom"] = ranked(join({&kCommon, &confRom}));
    t["TextDesc"] = ranked(textDesc);
    t["IntKey"] = ranked(textDesc);
    t["DcamLock"] = ranked(join({&kCommon, &kRegisterHead, &dcamLock}));
    t["SmartFeatureAdr"] = ranked(smartFeatureAdr);
    return t;
}

// Copies the attributes and children of from into to, each new node owned by
// the tree as soon as it is made.
void copyContent(TiXmlElement& to, const TiXmlElement& from)
{
    for (const TiXmlAttribute* a = from.FirstAttribute(); a != nullptr; a = a->Next())
        to.SetAttribute(a->Name(), a->Value());
    for (const TiXmlNode* n = from.FirstChild(); n != nullptr; n = n->NextSibling()) {
        if (const TiXmlText* t = n->ToText()) {
            auto text = std::make_unique<TiXmlText>(t->Value());
            text->SetCDATA(t->CDATA());
            to.LinkEndChild(text.release());
        } else if (const TiXmlElement* e = n->ToElement()) {
            auto element = std::make_unique<TiXmlElement>(e->Value());
            TiXmlElement& linked = *element;
            to.LinkEndChild(element.release());
            copyContent(linked, *e);
        } else {
            to.InsertEndChild(*n);
        }
    }
}

}  // namespace

const FeatureDescBase::OrderTable& FeatureDescBase::ChildOrderTable()
{
    static const OrderTable table = buildTable();
    return table;
}

uint32_t FeatureDescBase::ChildRank(const char* parentTag, const char* childTag)
{
    const auto& table = ChildOrderTable();
    const auto row = table.find(std::string_view(parentTag));
    if (row == table.end())
        return 0;
    const auto rank = row->second.find(std::string_view(childTag));
    return rank == row->second.end() ? 0 : rank->second;
}

FeatureDescBase::FeatureDescBase()
{
    if (m_Doc.LinkEndChild(new TiXmlDeclaration("1.0", "utf-8", "")) == nullptr)
        throw std::runtime_error("Fatal error: can't create XML declaration\n");
    TiXmlNode* root = m_Doc.LinkEndChild(new TiXmlElement("RegisterDescription"));
    if (root == nullptr)
        throw std::runtime_error("Fatal error: can't create XML node\n");
    m_Root = root->ToElement();
}

FeatureDescBase::~FeatureDescBase()
{
    // The derived part deletes the contexts with their side effects; whatever
    // is left (a constructor that failed half-way) is only freed here.
    if (m_Root != nullptr)
        DeleteContexts(m_Root, nullptr);
}

TiXmlElement* FeatureDescBase::InsertOrdered(TiXmlElement* parent, std::unique_ptr<TiXmlElement> child)
{
    if (parent == nullptr || !child)
        return nullptr;
    const uint32_t rank = ChildRank(parent->Value(), child->Value());
    TiXmlElement* before = nullptr;
    if (rank != 0) {
        for (TiXmlElement* e = parent->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
            if (ChildRank(parent->Value(), e->Value()) > rank) {
                before = e;
                break;
            }
        }
    }
    if (before == nullptr) {
        TiXmlNode* kept = parent->LinkEndChild(child.release());  // takes ownership, no copy
        return kept != nullptr ? kept->ToElement() : nullptr;
    }
    // TinyXML inserts before a sibling only a copy, and its copy loses what it
    // built when an allocation fails. So the copy is of a bare element (which
    // allocates nothing but itself), filled in place and taken out again when
    // filling fails. child carries no context, so nothing is shared.
    const TiXmlElement bare(child->Value());
    TiXmlNode* kept = parent->InsertBeforeChild(before, bare);
    if (kept == nullptr)
        return nullptr;
    try {
        copyContent(*kept->ToElement(), *child);
    } catch (...) {
        parent->RemoveChild(kept);
        throw;
    }
    return kept->ToElement();
}

TiXmlElement* FeatureDescBase::FindFeature(const TiXmlElement* parent, const char* name)
{
    if (parent == nullptr || name == nullptr)
        return nullptr;
    for (const TiXmlElement* e = parent->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        const char* n = e->Attribute("Name");
        if (n != nullptr && std::strcmp(n, name) == 0)
            return const_cast<TiXmlElement*>(e);
    }
    return nullptr;
}

FeatureDescBase::FeatureContextBase* FeatureDescBase::ContextOf(const TiXmlElement* element)
{
    if (element == nullptr)
        return nullptr;
    return static_cast<FeatureContextBase*>(const_cast<void*>(element->GetUserData()));
}

uint32_t FeatureDescBase::KindOf(const TiXmlElement* element)
{
    const FeatureContextBase* c = ContextOf(element);
    return c != nullptr ? c->Kind() : 0;
}

void FeatureDescBase::Attach(TiXmlElement* element, std::unique_ptr<FeatureContextBase> context)
{
    delete ContextOf(element);
    element->SetUserData(context.release());
}

void FeatureDescBase::DeleteContexts(TiXmlElement* element,
                                     const std::function<void(TiXmlElement*, FeatureContextBase&)>& before)
{
    for (TiXmlElement* e = element->FirstChildElement(); e != nullptr; e = e->NextSiblingElement())
        DeleteContexts(e, before);
    if (FeatureContextBase* c = ContextOf(element)) {
        if (before)
            before(element, *c);
        element->SetUserData(nullptr);
        delete c;
    }
}

}  // namespace Kivu
