#include "model/feature_desc.h"

#include "model/feature_contexts.h"
#include "model/xml_text.h"

#include <cstring>
#include <stdexcept>
#include <utility>

namespace Kivu {

namespace {

std::string clean(const char* text)
{
    return text != nullptr ? XmlText::Clean(text) : std::string();
}

}  // namespace

FeatureDesc::FeatureDesc(std::shared_ptr<RegTree> tree) : m_Tree(std::move(tree))
{
    if (!m_Tree)
        throw std::invalid_argument("FeatureDesc needs a register tree");
    const char* const attributes[][2] = {
        {"VendorName", "keltrix"},
        {"ModelName", "GigECamera"},
        {"StandardNameSpace", "GEV"},
        {"ToolTip", "-"},
        {"SchemaMajorVersion", "1"},
        {"SchemaMinorVersion", "0"},
        {"SchemaSubMinorVersion", "1"},
        {"MajorVersion", "0"},
        {"MinorVersion", "0"},
        {"SubMinorVersion", "1"},
        {"ProductGuid", kProductGuid},
        {"VersionGuid", kProductGuid},  // derived from the content at each print
        {"xmlns", "http://www.genicam.org/GenApi/Version_1_0"},
        {"xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance"},
        {"xsi:schemaLocation",
         "http://www.genicam.org/GenApi/Version_1_0 http://www.genicam.org/GenApi/GenApiSchema_Version_1_0.xsd"},
    };
    for (const auto& a : attributes)
        m_Root->SetAttribute(a[0], a[1]);

    TiXmlElement* port = createFeatureNode(m_Root, "Port", "Device", "Standard");
    if (port == nullptr)
        throw std::runtime_error("Fatal error: can't create port feature\n");
    Attach(port, std::make_unique<FeatureContextTemplate<ContextKind::Feature>>(""));
    if (addChildElement(port, "Description", "All access to the Camera is realized via the GigE Port") == nullptr)
        throw std::runtime_error("Fatal error: can't create port description\n");
    TiXmlElement* root = createFeatureNode(m_Root, "Category", "Root", "Standard");
    if (root == nullptr)
        throw std::runtime_error("Fatal error: can't create root category\n");
    Attach(root, std::make_unique<FeatureContextTemplate<ContextKind::Feature>>(""));
}

FeatureDesc::~FeatureDesc()
{
    EnableCallbacks(false);
    {
        Hold hold(m_Lock, true);
        m_TearingDown = true;
        DeleteContexts(m_Root, nullptr);
    }
    // Hooks off the registers and registers out of the tree while both are here.
    releaseRetired();
}

void FeatureDesc::retire(std::shared_ptr<Register> reg, std::function<void()> unhook)
{
    std::lock_guard lock(m_HookMutex);
    m_Retired.push_back(Retired{std::move(reg), std::move(unhook)});
}

void FeatureDesc::releaseRetired()
{
    std::vector<Retired> retired;
    {
        std::lock_guard lock(m_HookMutex);
        retired.swap(m_Retired);
    }
    for (Retired& r : retired) {
        r.unhook();
        if (m_Tree->Find(r.reg->GetAddress()) == r.reg)
            m_Tree->RemoveRegister(r.reg->GetAddress());
        forgetHookName(r.reg.get());
    }
}

// ---- primitive writers ----

TiXmlElement* FeatureDesc::find(const char* name) const
{
    if (name == nullptr)
        return nullptr;
    if (XmlText::IsClean(name))
        return FindFeature(m_Root, name);
    return FindFeature(m_Root, XmlText::Clean(name).c_str());
}

TiXmlElement* FeatureDesc::createFeatureNode(TiXmlElement* parent, const char* tag, const char* name,
                                             const char* nameSpace)
{
    if (tag == nullptr || name == nullptr || find(name) != nullptr)
        return nullptr;
    MarkDirty();
    auto element = std::make_unique<TiXmlElement>(tag);
    element->SetAttribute("Name", clean(name).c_str());
    if (nameSpace != nullptr)
        element->SetAttribute("NameSpace", clean(nameSpace).c_str());
    return InsertOrdered(parent, std::move(element));
}

TiXmlElement* FeatureDesc::addChildElement(TiXmlElement* parent, const char* tag, const std::string& text)
{
    if (parent == nullptr || tag == nullptr)
        return nullptr;
    MarkDirty();
    auto element = std::make_unique<TiXmlElement>(tag);
    element->LinkEndChild(new TiXmlText(XmlText::Clean(text).c_str()));
    return InsertOrdered(parent, std::move(element));
}

TiXmlElement* FeatureDesc::addChild(TiXmlElement* parent, const char* tag, const std::string& text,
                                    uint32_t kind)
{
    TiXmlElement* child = addChildElement(parent, tag, text);
    if (child != nullptr && kind != 0)
        Attach(child, std::make_unique<AttributeContext>(kind));
    return child;
}

TiXmlElement* FeatureDesc::createEnumEntry(TiXmlElement* enumeration, const char* entry)
{
    if (enumeration == nullptr || entry == nullptr)
        return nullptr;
    const std::string name = clean(entry);
    if (FindFeature(enumeration, name.c_str()) != nullptr)
        return nullptr;
    MarkDirty();
    auto element = std::make_unique<TiXmlElement>("EnumEntry");
    element->SetAttribute("Name", name.c_str());
    return InsertOrdered(enumeration, std::move(element));
}

TiXmlElement* FeatureDesc::addCategoryFeatureLink(const char* category, const char* feature)
{
    if (category == nullptr || feature == nullptr)
        return nullptr;
    TiXmlElement* c = find(category);
    if (c == nullptr || std::strcmp(c->Value(), "Category") != 0)
        return nullptr;
    return addChildElement(c, "pFeature", feature) != nullptr ? c : nullptr;
}

void FeatureDesc::removeNode(TiXmlElement* parent, TiXmlElement* element)
{
    if (element == nullptr)
        return;
    MarkDirty();
    if (m_TearingDown)
        DeleteContexts(element, nullptr);
    else
        DeleteContexts(element, [this](TiXmlElement* e, FeatureContextBase& c) { beforeContextDeleted(e, c); });
    if (parent != nullptr && element->Parent() == parent)
        parent->RemoveChild(element);
}

void FeatureDesc::removeChildElement(TiXmlElement* parent, const char* tag, const char* text)
{
    if (TiXmlElement* child = findChildElement(parent, tag, text))
        removeNode(parent, child);
}

TiXmlElement* FeatureDesc::findChildElement(TiXmlElement* parent, const char* tag, const char* text)
{
    if (parent == nullptr || tag == nullptr)
        return nullptr;
    const std::string wanted = clean(text);
    for (TiXmlElement* e = parent->FirstChildElement(tag); e != nullptr; e = e->NextSiblingElement(tag)) {
        if (text == nullptr)
            return e;
        const char* t = e->GetText();
        if (wanted == (t != nullptr ? t : ""))
            return e;
    }
    return nullptr;
}

bool FeatureDesc::setText(TiXmlElement* child, const std::string& text)
{
    TiXmlNode* first = child->FirstChild();
    TiXmlText* node = first != nullptr ? first->ToText() : nullptr;
    if (node == nullptr)
        return false;
    node->SetValue(XmlText::Clean(text).c_str());
    return true;
}

// The register node that a feature's pValue names, resolved now.
TiXmlElement* FeatureDesc::linkedRegisterNode(const TiXmlElement* feature) const
{
    const TiXmlElement* link = feature->FirstChildElement("pValue");
    if (link == nullptr || KindOf(link) != ContextKind::ValueLink)
        return nullptr;
    TiXmlElement* node = FindFeature(m_Root, link->GetText());
    return KindOf(node) == ContextKind::RegisterNode ? node : nullptr;
}

TiXmlElement* FeatureDesc::registerNodeOf(TiXmlElement* element) const
{
    switch (KindOf(element)) {
    case ContextKind::RegisterNode: return element;
    case ContextKind::Feature:
    case ContextKind::Enumeration: return linkedRegisterNode(element);
    default: return nullptr;
    }
}

// Moves the name the hooks report from the node named oldNode to the one
// named newNode (either may be null).
void FeatureDesc::linkValue(TiXmlElement* feature, const char* oldNode, const char* newNode)
{
    const char* name = feature->Attribute("Name");
    const std::string featureName = name != nullptr ? name : "";
    if (oldNode != nullptr)
        setHookFeature(FindFeature(m_Root, oldNode), featureName, true);
    if (newNode != nullptr)
        setHookFeature(FindFeature(m_Root, newNode), featureName, false);
}

void FeatureDesc::beforeContextDeleted(TiXmlElement* element, FeatureContextBase& context)
{
    switch (context.Kind()) {
    case ContextKind::Feature:
    case ContextKind::Enumeration: {
        const auto& f = static_cast<FeatureNodeContext&>(context);
        if (!f.category.empty()) {
            TiXmlElement* category = FindFeature(m_Root, f.category.c_str());
            if (category != nullptr && std::strcmp(category->Value(), "Category") == 0)
                removeChildElement(category, "pFeature", f.name.c_str());
        }
        break;
    }
    case ContextKind::ValueLink:
        // A pValue child going away: its node reports its own name again.
        if (auto* feature = element->Parent() != nullptr ? element->Parent()->ToElement() : nullptr)
            linkValue(feature, element->GetText(), nullptr);
        break;
    default: break;
    }
}

// ---- hooks ----

void FeatureDesc::registerHookName(const Register* reg, const std::string& node)
{
    std::lock_guard lock(m_HookMutex);
    m_HookNames[reg] = HookName{node, {}};
}

void FeatureDesc::forgetHookName(const Register* reg)
{
    std::lock_guard lock(m_HookMutex);
    m_HookNames.erase(reg);
}

void FeatureDesc::setHookFeature(const TiXmlElement* node, const std::string& feature, bool clear)
{
    if (KindOf(node) != ContextKind::RegisterNode)
        return;
    const Register* reg = static_cast<FeatureRegContext*>(ContextOf(node))->Reg().get();
    std::lock_guard lock(m_HookMutex);
    const auto it = m_HookNames.find(reg);
    if (it == m_HookNames.end())
        return;
    if (!clear)
        it->second.feature = feature;
    else if (it->second.feature == feature)
        it->second.feature.clear();
}

std::string FeatureDesc::hookName(const Register* reg)
{
    std::lock_guard lock(m_HookMutex);
    const auto it = m_HookNames.find(reg);
    if (it == m_HookNames.end())
        return reg->GetName();
    return it->second.feature.empty() ? it->second.node : it->second.feature;
}

bool FeatureDesc::SetReadCallback(void* context, FeatureReadCallback function)
{
    std::lock_guard lock(m_HookMutex);
    m_Read = Handler{context, function};
    return true;
}

bool FeatureDesc::SetWriteCallback(void* context, FeatureWriteCallback function)
{
    std::lock_guard lock(m_HookMutex);
    m_Write = Handler{context, function};
    return true;
}

bool FeatureDesc::EnableCallbacks(bool enable)
{
    return m_Enabled.exchange(enable);
}

bool FeatureDesc::onRead(Register* reg)
{
    if (!m_Enabled.load())
        return false;
    Handler h;
    {
        std::lock_guard lock(m_HookMutex);
        h = m_Read;
    }
    if (h.function == nullptr)
        return false;
    return h.function(h.context, hookName(reg).c_str());
}

bool FeatureDesc::onWrite(Register* reg)
{
    if (!m_Enabled.load())
        return true;
    Handler h;
    {
        std::lock_guard lock(m_HookMutex);
        h = m_Write;
    }
    if (h.function == nullptr)
        return true;
    return h.function(h.context, hookName(reg).c_str());
}

}  // namespace Kivu
