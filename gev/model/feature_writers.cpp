// Node writers of the feature description.
#include "gev/model/feature_contexts.h"
#include "gev/model/feature_desc.h"
#include "gev/model/xml_text.h"

#include <cstring>
#include <string>

namespace Kivu {

namespace {

using FeatureContext = FeatureDesc::FeatureContextTemplate<ContextKind::Feature>;

FeatureNodeContext& nodeContext(const TiXmlElement* e)
{
    return *static_cast<FeatureNodeContext*>(FeatureDescBase::ContextOf(e));
}

bool isCategory(const TiXmlElement* e)
{
    return e != nullptr && std::strcmp(e->Value(), "Category") == 0;
}

bool isFeatureKind(uint32_t kind)
{
    return kind == ContextKind::Feature || kind == ContextKind::Enumeration;
}

template <class R, class V>
std::shared_ptr<R> makeRegister(uint32_t address, V value, uint32_t access, uint32_t length,
                                const std::string& name)
{
    if constexpr (std::is_same_v<R, StringReg>) {
        (void)value;
        return std::make_shared<StringReg>(address, length, name.c_str(), access);
    } else {
        return std::make_shared<R>(address, static_cast<typename R::Value>(value), access, name);
    }
}

}  // namespace

uint32_t FeatureDesc::AddCategory(const char* name, const char* parent)
{
    if (name == nullptr)
        return FeatureStatus::InvalidArg;
    Hold hold(m_Lock, true);
    if (find(name) != nullptr)
        return FeatureStatus::Exists;
    const char* listedIn = parent != nullptr ? parent : "Root";
    if (!isCategory(find(listedIn)))
        return parent != nullptr ? FeatureStatus::NotFound : FeatureStatus::Fail;
    TiXmlElement* category = createFeatureNode(m_Root, "Category", name, "Standard");
    if (category == nullptr)
        return FeatureStatus::Fail;
    const std::string own = category->Attribute("Name");
    if (addCategoryFeatureLink(listedIn, own.c_str()) == nullptr) {
        removeNode(m_Root, category);
        return FeatureStatus::Fail;
    }
    auto context = std::make_unique<FeatureContext>(own);
    context->category = XmlText::Clean(listedIn);
    Attach(category, std::move(context));
    return FeatureStatus::Ok;
}

uint32_t FeatureDesc::AddFeature(const char* tag, const char* name, const char* nameSpace, const char* parent)
{
    if (tag == nullptr || name == nullptr)
        return FeatureStatus::InvalidArg;
    Hold hold(m_Lock, true);
    if (find(name) != nullptr)
        return FeatureStatus::Fail;
    if (parent != nullptr && !isCategory(find(parent)))
        return FeatureStatus::NotFound;
    TiXmlElement* feature = createFeatureNode(m_Root, tag, name, nameSpace);
    if (feature == nullptr)
        return FeatureStatus::Fail;
    const std::string own = feature->Attribute("Name");
    if (parent != nullptr && addCategoryFeatureLink(parent, own.c_str()) == nullptr) {
        removeNode(m_Root, feature);
        return FeatureStatus::Fail;
    }
    std::unique_ptr<FeatureNodeContext> context;
    if (std::strcmp(tag, "Enumeration") == 0)
        context = std::make_unique<EnumFeatureContext>(own);
    else
        context = std::make_unique<FeatureContext>(own);
    if (parent != nullptr)
        context->category = XmlText::Clean(parent);
    Attach(feature, std::move(context));
    return FeatureStatus::Ok;
}

template <class R, class V>
uint32_t FeatureDesc::addRegisterNode(const char* tag, const char* name, const char* nameSpace, V value,
                                      uint32_t access, uint32_t length, const char* sign, bool endianess,
                                      uint32_t existsStatus)
{
    if (name == nullptr)
        return FeatureStatus::InvalidArg;
    XmlText::CheckAccess(access);  // before anything is built
    Hold hold(m_Lock, true);
    if (find(name) != nullptr)
        return existsStatus;
    const uint32_t address = m_NextAddress;
    if (address > UINT32_MAX - length)
        return FeatureStatus::Fail;
    TiXmlElement* node = createFeatureNode(m_Root, tag, name, nameSpace);
    if (node == nullptr)
        return FeatureStatus::NotFound;
    const std::string own = node->Attribute("Name");

    auto reg = makeRegister<R>(address, value, access, length, own);
    reg->Subscribe(CallbackList::BeforeWrite, MakeCallback(this, &FeatureDesc::OnFeatureRegisterWrite<R>));
    reg->Subscribe(CallbackList::BeforeRead, MakeCallback(this, &FeatureDesc::OnFeatureRegisterRead<R>));
    registerHookName(reg.get(), own);
    if (!m_Tree->AddRegister(reg)) {
        forgetHookName(reg.get());
        removeNode(m_Root, node);
        return FeatureStatus::Fail;
    }
    R* raw = reg.get();
    auto unhook = [this, raw] {
        raw->RemoveCallbacks(CallbackList::BeforeWrite, MakeCallback(this, &FeatureDesc::OnFeatureRegisterWrite<R>));
        raw->RemoveCallbacks(CallbackList::BeforeRead, MakeCallback(this, &FeatureDesc::OnFeatureRegisterRead<R>));
    };
    Attach(node, std::make_unique<FeatureRegContext>(*this, std::move(reg), std::move(unhook)));

    addChild(node, "Address", XmlText::FormatHex(address), ContextKind::UInt32);
    addChild(node, "Length", std::to_string(length), length == 8 ? ContextKind::Int64 : ContextKind::UInt32);
    addChild(node, "AccessMode", XmlText::AccessText(access), ContextKind::UInt32);
    addChild(node, "pPort", "Device", ContextKind::Text);
    if (sign != nullptr)
        addChild(node, "Sign", sign, ContextKind::Text);
    if (endianess)
        addChild(node, "Endianess", "BigEndian", ContextKind::Text);
    m_NextAddress = address + length;
    return FeatureStatus::Ok;
}

uint32_t FeatureDesc::AddIntRegSigned(const char* name, int32_t value, uint32_t access, uint32_t length)
{
    if (length == 4)
        return addRegisterNode<IntReg>("IntReg", name, "Custom", value, access, 4, "Signed", true,
                                       FeatureStatus::Fail);
    if (length == 8)
        return addRegisterNode<Int64Reg>("IntReg", name, "Custom", value, access, 8, "Signed", true,
                                         FeatureStatus::Fail);
    return FeatureStatus::InvalidArg;
}

uint32_t FeatureDesc::AddIntRegUnsigned(const char* name, uint32_t value, uint32_t access, bool customNameSpace)
{
    return addRegisterNode<UIntReg>("IntReg", name, customNameSpace ? "Custom" : nullptr, value, access, 4,
                                    "Unsigned", true, FeatureStatus::Exists);
}

uint32_t FeatureDesc::AddFloatReg(const char* name, float value, uint32_t access)
{
    return addRegisterNode<FloatReg>("FloatReg", name, "Custom", value, access, 4, nullptr, true,
                                     FeatureStatus::Fail);
}

uint32_t FeatureDesc::AddStringReg(const char* name, uint32_t access)
{
    return addRegisterNode<StringReg>("StringReg", name, "Standard", 0, access, 128, nullptr, false,
                                      FeatureStatus::Fail);
}

uint32_t FeatureDesc::AddEnumEntry(const char* enumeration, const char* entry, uint32_t value)
{
    if (enumeration == nullptr || entry == nullptr)
        return FeatureStatus::InvalidArg;
    Hold hold(m_Lock, true);
    TiXmlElement* e = find(enumeration);
    if (e == nullptr)
        return FeatureStatus::NotFound;
    if (KindOf(e) != ContextKind::Enumeration)
        return FeatureStatus::Fail;
    auto& context = static_cast<EnumFeatureContext&>(*ContextOf(e));
    const std::string text = std::to_string(value);
    if (TiXmlElement* existing = FindFeature(e, XmlText::Clean(entry).c_str())) {
        TiXmlElement* v = existing->FirstChildElement("Value");
        if (v == nullptr || KindOf(existing) != ContextKind::EnumEntry || !setText(v, text))
            return FeatureStatus::Fail;
    } else {
        TiXmlElement* created = createEnumEntry(e, entry);
        if (created == nullptr)
            return FeatureStatus::Fail;
        if (addChildElement(created, "Value", text) == nullptr) {
            removeNode(e, created);
            return FeatureStatus::Fail;
        }
        Attach(created, std::make_unique<AttributeContext>(ContextKind::EnumEntry));
    }
    context.stale = true;
    MarkDirty();
    return FeatureStatus::Ok;
}

uint32_t FeatureDesc::SetFeatureChildText(const char* feature, const char* tag, const char* text, bool append)
{
    if (feature == nullptr || tag == nullptr || text == nullptr)
        return FeatureStatus::InvalidArg;
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(feature);
    if (f == nullptr)
        return FeatureStatus::NotFound;
    const bool isLink = std::strcmp(tag, "pValue") == 0;
    TiXmlElement* child = append ? nullptr : f->FirstChildElement(tag);
    if (child == nullptr) {
        child = addChild(f, tag, text, isLink ? ContextKind::ValueLink : ContextKind::Text);
        if (child == nullptr)
            return FeatureStatus::Fail;
        if (isLink)
            linkValue(f, nullptr, child->GetText());
    } else {
        const char* previous = child->GetText();
        const std::string old = previous != nullptr ? previous : "";
        if (!setText(child, text))
            return FeatureStatus::Fail;
        if (KindOf(child) == ContextKind::ValueLink)
            linkValue(f, old.c_str(), child->GetText());
    }
    MarkDirty();
    return FeatureStatus::Ok;
}

uint32_t FeatureDesc::SetEntryChildText(const char* feature, const char* entry, const char* tag,
                                        const char* text, bool append)
{
    if (feature == nullptr || entry == nullptr || tag == nullptr || text == nullptr)
        return FeatureStatus::InvalidArg;
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(feature);
    if (f == nullptr)
        return FeatureStatus::NotFound;
    TiXmlElement* e = FindFeature(f, XmlText::Clean(entry).c_str());
    if (e == nullptr)
        return FeatureStatus::Fail;
    TiXmlElement* child = append ? nullptr : e->FirstChildElement(tag);
    if (child == nullptr) {
        if (addChildElement(e, tag, text) == nullptr)
            return FeatureStatus::Fail;
    } else if (!setText(child, text)) {
        return FeatureStatus::Fail;
    }
    MarkDirty();
    return FeatureStatus::Ok;
}

// Adds the child with the text and kind, or gives the first child of that tag
// the text and kind, whatever kind it had.
uint32_t FeatureDesc::setChildNumber(const char* feature, const char* tag, const std::string& text,
                                     uint32_t kind)
{
    if (feature == nullptr || tag == nullptr)
        return FeatureStatus::InvalidArg;
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(feature);
    if (f == nullptr)
        return FeatureStatus::NotFound;
    TiXmlElement* child = f->FirstChildElement(tag);
    if (child == nullptr)
        return addChild(f, tag, text, kind) != nullptr ? FeatureStatus::Ok : FeatureStatus::Fail;
    if (child->FirstChild() == nullptr)
        child->LinkEndChild(new TiXmlText(""));
    if (KindOf(child) == ContextKind::ValueLink)
        linkValue(f, child->GetText(), nullptr);
    if (!setText(child, text))
        return FeatureStatus::Fail;
    if (KindOf(child) != kind)
        Attach(child, std::make_unique<AttributeContext>(kind));
    MarkDirty();
    return FeatureStatus::Ok;
}

uint32_t FeatureDesc::SetChildInt32(const char* feature, const char* tag, int32_t value)
{
    return setChildNumber(feature, tag, std::to_string(value), ContextKind::Int32);
}

uint32_t FeatureDesc::SetChildUInt32(const char* feature, const char* tag, uint32_t value)
{
    return setChildNumber(feature, tag, std::to_string(value), ContextKind::UInt32);
}

uint32_t FeatureDesc::SetChildInt64(const char* feature, const char* tag, int64_t value)
{
    return setChildNumber(feature, tag, std::to_string(value), ContextKind::Int64);
}

uint32_t FeatureDesc::SetChildFloat(const char* feature, const char* tag, float value)
{
    return setChildNumber(feature, tag, XmlText::FormatFloat(value), ContextKind::Float);
}

uint32_t FeatureDesc::SetMaxUInt64(const char* feature, uint64_t value)
{
    return setChildNumber(feature, "Max", std::to_string(value), ContextKind::Int64);
}

uint32_t FeatureDesc::SetFeatureChildAttribute(const char* feature, const char* tag, const char* childText,
                                               const char* attribute, const char* value)
{
    if (feature == nullptr || tag == nullptr || attribute == nullptr || value == nullptr)
        return FeatureStatus::InvalidArg;
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(feature);
    if (f == nullptr)
        return FeatureStatus::NotFound;
    TiXmlElement* child = findChildElement(f, tag, childText);
    if (child == nullptr)
        return FeatureStatus::NotFound;
    child->SetAttribute(attribute, XmlText::Clean(value).c_str());
    MarkDirty();
    return FeatureStatus::Ok;
}

uint32_t FeatureDesc::SetAccessMode(const char* feature, uint32_t access)
{
    if (feature == nullptr)
        return FeatureStatus::NoAccess;
    const char* text = XmlText::AccessText(access);
    Hold hold(m_Lock, true);
    TiXmlElement* node = registerNodeOf(find(feature));
    if (node == nullptr)
        return FeatureStatus::NoAccess;
    TiXmlElement* mode = node->FirstChildElement("AccessMode");
    if (mode == nullptr || !setText(mode, text))
        return FeatureStatus::NoAccess;
    static_cast<FeatureRegContext*>(ContextOf(node))->Reg()->SetAccess(access);
    MarkDirty();
    return FeatureStatus::Ok;
}

uint32_t FeatureDesc::LinkFeatureRegister(const char* feature, const char* registerNode)
{
    if (feature == nullptr || registerNode == nullptr)
        return FeatureStatus::InvalidArg;
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(feature);
    TiXmlElement* node = find(registerNode);
    if (f == nullptr || node == nullptr)
        return FeatureStatus::NotFound;
    if (!isFeatureKind(KindOf(f)))
        return FeatureStatus::Fail;
    nodeContext(f).registerNode = node->Attribute("Name");
    return FeatureStatus::Ok;
}

uint32_t FeatureDesc::RemoveFeature(const char* name)
{
    if (name == nullptr)
        return FeatureStatus::InvalidArg;
    RetireScope retire(*this);
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(name);
    if (f == nullptr)
        return FeatureStatus::NotFound;
    if (isFeatureKind(KindOf(f))) {
        const std::string node = nodeContext(f).registerNode;
        TiXmlElement* n = node.empty() ? nullptr : FindFeature(m_Root, node.c_str());
        if (n != nullptr && n != f)
            removeNode(m_Root, n);
    }
    removeNode(m_Root, f);
    return FeatureStatus::Ok;
}

uint32_t FeatureDesc::RemoveFeatureChild(const char* feature, const char* tag, const char* text)
{
    if (feature == nullptr || tag == nullptr)
        return FeatureStatus::InvalidArg;
    RetireScope retire(*this);
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(feature);
    if (f == nullptr)
        return FeatureStatus::NotFound;
    removeChildElement(f, tag, text);
    if (KindOf(f) == ContextKind::Enumeration)
        static_cast<EnumFeatureContext*>(ContextOf(f))->stale = true;
    return FeatureStatus::Ok;
}

uint32_t FeatureDesc::RemoveEnumEntry(const char* enumeration, const char* entry)
{
    if (enumeration == nullptr || entry == nullptr)
        return FeatureStatus::InvalidArg;
    Hold hold(m_Lock, true);
    TiXmlElement* e = find(enumeration);
    if (e == nullptr)
        return FeatureStatus::NotFound;
    removeNode(e, FindFeature(e, XmlText::Clean(entry).c_str()));
    if (KindOf(e) == ContextKind::Enumeration)
        static_cast<EnumFeatureContext*>(ContextOf(e))->stale = true;
    return FeatureStatus::Ok;
}

}  // namespace Kivu
