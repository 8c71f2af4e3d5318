// Node writers of the feature description.
#include "model/feature_contexts.h"
#include "model/feature_desc.h"
#include "model/xml_text.h"

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
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, true);
    if (find(name) != nullptr)
        return GevResult::Exists;
    const char* listedIn = parent != nullptr ? parent : "Root";
    if (!isCategory(find(listedIn)))
        return parent != nullptr ? GevResult::NotFound : GevResult::Fail;
    TiXmlElement* category = createFeatureNode(m_Root, "Category", name, "Standard");
    if (category == nullptr)
        return GevResult::Fail;
    const std::string own = category->Attribute("Name");
    if (addCategoryFeatureLink(listedIn, own.c_str()) == nullptr) {
        removeNode(m_Root, category);
        return GevResult::Fail;
    }
    auto context = std::make_unique<FeatureContext>(own);
    context->category = XmlText::Clean(listedIn);
    Attach(category, std::move(context));
    return GevResult::Ok;
}

uint32_t FeatureDesc::AddFeature(const char* tag, const char* name, const char* nameSpace, const char* parent)
{
    if (tag == nullptr || name == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, true);
    if (find(name) != nullptr)
        return GevResult::Fail;
    if (parent != nullptr && !isCategory(find(parent)))
        return GevResult::NotFound;
    TiXmlElement* feature = createFeatureNode(m_Root, tag, name, nameSpace);
    if (feature == nullptr)
        return GevResult::Fail;
    const std::string own = feature->Attribute("Name");
    if (parent != nullptr && addCategoryFeatureLink(parent, own.c_str()) == nullptr) {
        removeNode(m_Root, feature);
        return GevResult::Fail;
    }
    std::unique_ptr<FeatureNodeContext> context;
    if (std::strcmp(tag, "Enumeration") == 0)
        context = std::make_unique<EnumFeatureContext>(own);
    else
        context = std::make_unique<FeatureContext>(own);
    if (parent != nullptr)
        context->category = XmlText::Clean(parent);
    Attach(feature, std::move(context));
    return GevResult::Ok;
}

template <class R, class V>
uint32_t FeatureDesc::addRegisterNode(const char* tag, const char* name, const char* nameSpace, V value,
                                      uint32_t access, uint32_t length, const char* sign, bool endianess,
                                      uint32_t existsStatus)
{
    if (name == nullptr)
        return GevResult::InvalidArgument;
    XmlText::CheckAccess(access);  // before anything is built
    Hold hold(m_Lock, true);
    if (find(name) != nullptr)
        return existsStatus;
    const uint32_t address = m_NextAddress;
    if (address > UINT32_MAX - length)
        return GevResult::Fail;
    TiXmlElement* node = createFeatureNode(m_Root, tag, name, nameSpace);
    if (node == nullptr)
        return GevResult::NotFound;
    const std::string own = node->Attribute("Name");

    auto reg = makeRegister<R>(address, value, access, length, own);
    reg->Subscribe(CallbackList::BeforeWrite, MakeCallback(this, &FeatureDesc::OnFeatureRegisterWrite<R>));
    reg->Subscribe(CallbackList::BeforeRead, MakeCallback(this, &FeatureDesc::OnFeatureRegisterRead<R>));
    registerHookName(reg.get(), own);
    if (!m_Tree->AddRegister(reg)) {
        forgetHookName(reg.get());
        removeNode(m_Root, node);
        return GevResult::Fail;
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
    return GevResult::Ok;
}

uint32_t FeatureDesc::AddIntRegSigned(const char* name, int32_t value, uint32_t access, uint32_t length)
{
    if (length == 4)
        return addRegisterNode<IntReg>("IntReg", name, "Custom", value, access, 4, "Signed", true,
                                       GevResult::Fail);
    if (length == 8)
        return addRegisterNode<Int64Reg>("IntReg", name, "Custom", value, access, 8, "Signed", true,
                                         GevResult::Fail);
    return GevResult::InvalidArgument;
}

uint32_t FeatureDesc::AddIntRegUnsigned(const char* name, uint32_t value, uint32_t access, bool customNameSpace)
{
    return addRegisterNode<UIntReg>("IntReg", name, customNameSpace ? "Custom" : nullptr, value, access, 4,
                                    "Unsigned", true, GevResult::Exists);
}

uint32_t FeatureDesc::AddFloatReg(const char* name, float value, uint32_t access)
{
    return addRegisterNode<FloatReg>("FloatReg", name, "Custom", value, access, 4, nullptr, true,
                                     GevResult::Fail);
}

uint32_t FeatureDesc::AddStringReg(const char* name, uint32_t access)
{
    return addRegisterNode<StringReg>("StringReg", name, "Standard", 0, access, 128, nullptr, false,
                                      GevResult::Fail);
}

uint32_t FeatureDesc::AddEnumEntry(const char* enumeration, const char* entry, uint32_t value)
{
    if (enumeration == nullptr || entry == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, true);
    TiXmlElement* e = find(enumeration);
    if (e == nullptr)
        return GevResult::NotFound;
    if (KindOf(e) != ContextKind::Enumeration)
        return GevResult::Fail;
    auto& context = static_cast<EnumFeatureContext&>(*ContextOf(e));
    const std::string text = std::to_string(value);
    if (TiXmlElement* existing = FindFeature(e, XmlText::Clean(entry).c_str())) {
        TiXmlElement* v = existing->FirstChildElement("Value");
        if (v == nullptr || KindOf(existing) != ContextKind::EnumEntry || !setText(v, text))
            return GevResult::Fail;
    } else {
        TiXmlElement* created = createEnumEntry(e, entry);
        if (created == nullptr)
            return GevResult::Fail;
        if (addChildElement(created, "Value", text) == nullptr) {
            removeNode(e, created);
            return GevResult::Fail;
        }
        Attach(created, std::make_unique<AttributeContext>(ContextKind::EnumEntry));
    }
    context.stale = true;
    MarkDirty();
    return GevResult::Ok;
}

uint32_t FeatureDesc::SetFeatureChildText(const char* feature, const char* tag, const char* text, bool append)
{
    if (feature == nullptr || tag == nullptr || text == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(feature);
    if (f == nullptr)
        return GevResult::NotFound;
    const bool isLink = std::strcmp(tag, "pValue") == 0;
    TiXmlElement* child = append ? nullptr : f->FirstChildElement(tag);
    if (child == nullptr) {
        child = addChild(f, tag, text, isLink ? ContextKind::ValueLink : ContextKind::Text);
        if (child == nullptr)
            return GevResult::Fail;
        if (isLink)
            linkValue(f, nullptr, child->GetText());
    } else {
        const char* previous = child->GetText();
        const std::string old = previous != nullptr ? previous : "";
        if (!setText(child, text))
            return GevResult::Fail;
        if (KindOf(child) == ContextKind::ValueLink)
            linkValue(f, old.c_str(), child->GetText());
    }
    MarkDirty();
    return GevResult::Ok;
}

uint32_t FeatureDesc::SetEntryChildText(const char* feature, const char* entry, const char* tag,
                                        const char* text, bool append)
{
    if (feature == nullptr || entry == nullptr || tag == nullptr || text == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(feature);
    if (f == nullptr)
        return GevResult::NotFound;
    TiXmlElement* e = FindFeature(f, XmlText::Clean(entry).c_str());
    if (e == nullptr)
        return GevResult::Fail;
    TiXmlElement* child = append ? nullptr : e->FirstChildElement(tag);
    if (child == nullptr) {
        if (addChildElement(e, tag, text) == nullptr)
            return GevResult::Fail;
    } else if (!setText(child, text)) {
        return GevResult::Fail;
    }
    MarkDirty();
    return GevResult::Ok;
}

// Adds the child with the text and kind, or gives the first child of that tag
// the text and kind, whatever kind it had.
uint32_t FeatureDesc::setChildNumber(const char* feature, const char* tag, const std::string& text,
                                     uint32_t kind)
{
    if (feature == nullptr || tag == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(feature);
    if (f == nullptr)
        return GevResult::NotFound;
    TiXmlElement* child = f->FirstChildElement(tag);
    if (child == nullptr)
        return addChild(f, tag, text, kind) != nullptr ? GevResult::Ok : GevResult::Fail;
    if (child->FirstChild() == nullptr)
        child->LinkEndChild(new TiXmlText(""));
    if (KindOf(child) == ContextKind::ValueLink)
        linkValue(f, child->GetText(), nullptr);
    if (!setText(child, text))
        return GevResult::Fail;
    if (KindOf(child) != kind)
        Attach(child, std::make_unique<AttributeContext>(kind));
    MarkDirty();
    return GevResult::Ok;
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
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(feature);
    if (f == nullptr)
        return GevResult::NotFound;
    TiXmlElement* child = findChildElement(f, tag, childText);
    if (child == nullptr)
        return GevResult::NotFound;
    child->SetAttribute(attribute, XmlText::Clean(value).c_str());
    MarkDirty();
    return GevResult::Ok;
}

uint32_t FeatureDesc::SetAccessMode(const char* feature, uint32_t access)
{
    if (feature == nullptr)
        return GevResult::NoAccess;
    const char* text = XmlText::AccessText(access);
    Hold hold(m_Lock, true);
    TiXmlElement* node = registerNodeOf(find(feature));
    if (node == nullptr)
        return GevResult::NoAccess;
    TiXmlElement* mode = node->FirstChildElement("AccessMode");
    if (mode == nullptr || !setText(mode, text))
        return GevResult::NoAccess;
    static_cast<FeatureRegContext*>(ContextOf(node))->Reg()->SetAccess(access);
    MarkDirty();
    return GevResult::Ok;
}

uint32_t FeatureDesc::LinkFeatureRegister(const char* feature, const char* registerNode)
{
    if (feature == nullptr || registerNode == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(feature);
    TiXmlElement* node = find(registerNode);
    if (f == nullptr || node == nullptr)
        return GevResult::NotFound;
    if (!isFeatureKind(KindOf(f)))
        return GevResult::Fail;
    nodeContext(f).registerNode = node->Attribute("Name");
    return GevResult::Ok;
}

uint32_t FeatureDesc::RemoveFeature(const char* name)
{
    if (name == nullptr)
        return GevResult::InvalidArgument;
    RetireScope retire(*this);
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(name);
    if (f == nullptr)
        return GevResult::NotFound;
    if (isFeatureKind(KindOf(f))) {
        const std::string node = nodeContext(f).registerNode;
        TiXmlElement* n = node.empty() ? nullptr : FindFeature(m_Root, node.c_str());
        if (n != nullptr && n != f)
            removeNode(m_Root, n);
    }
    removeNode(m_Root, f);
    return GevResult::Ok;
}

uint32_t FeatureDesc::RemoveFeatureChild(const char* feature, const char* tag, const char* text)
{
    if (feature == nullptr || tag == nullptr)
        return GevResult::InvalidArgument;
    RetireScope retire(*this);
    Hold hold(m_Lock, true);
    TiXmlElement* f = find(feature);
    if (f == nullptr)
        return GevResult::NotFound;
    removeChildElement(f, tag, text);
    if (KindOf(f) == ContextKind::Enumeration)
        static_cast<EnumFeatureContext*>(ContextOf(f))->stale = true;
    return GevResult::Ok;
}

uint32_t FeatureDesc::RemoveEnumEntry(const char* enumeration, const char* entry)
{
    if (enumeration == nullptr || entry == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, true);
    TiXmlElement* e = find(enumeration);
    if (e == nullptr)
        return GevResult::NotFound;
    removeNode(e, FindFeature(e, XmlText::Clean(entry).c_str()));
    if (KindOf(e) == ContextKind::Enumeration)
        static_cast<EnumFeatureContext*>(ContextOf(e))->stale = true;
    return GevResult::Ok;
}

}  // namespace Kivu
