// Queries and typed values of the feature description.
#include "model/feature_contexts.h"
#include "model/feature_desc.h"
#include "model/xml_text.h"

#include <bit>
#include <cctype>
#include <cstring>
#include <string>

namespace Kivu {

struct FeatureDesc::Target {
    uint32_t status = GevResult::Fail;
    TiXmlElement* valueChild = nullptr;  // the value lives in the document
    std::shared_ptr<Register> reg;       // or in this register
};

namespace {

bool valueKindFits(uint32_t kind, int op)
{
    switch (op) {
    case 0: return kind == ContextKind::Int32 || kind == ContextKind::UInt32;
    case 1: return kind == ContextKind::Int64;
    case 2: return kind == ContextKind::Float;
    default: return kind == ContextKind::Text || kind == ContextKind::ValueLink;
    }
}

bool registerTypeFits(uint32_t type, int op)
{
    switch (op) {
    case 0: return type == RegType::Int32 || type == RegType::UInt32;
    case 1: return type == RegType::Int64;
    case 2: return type == RegType::Float;
    default: return type == RegType::String;
    }
}

const char* textOf(const TiXmlElement* e)
{
    const char* t = e->GetText();
    return t != nullptr ? t : "";
}

// The 32 bits of a "%i" or "%u" child.
bool parse32(const TiXmlElement* child, uint32_t& bits)
{
    if (FeatureDescBase::KindOf(child) == ContextKind::Int32) {
        int64_t v;
        if (!XmlText::ParseInt64(textOf(child), v) || v < INT32_MIN || v > INT32_MAX)
            return false;
        bits = static_cast<uint32_t>(v);
        return true;
    }
    uint64_t v;
    if (!XmlText::ParseUInt64(textOf(child), v) || v > UINT32_MAX)
        return false;
    bits = static_cast<uint32_t>(v);
    return true;
}

std::string lower(const char* s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

FeatureDesc::Target FeatureDesc::resolve(const char* name, ValueOp op) const
{
    Target t;
    TiXmlElement* e = find(name);
    if (e == nullptr) {
        t.status = GevResult::NotFound;
        return t;
    }
    const int o = static_cast<int>(op);
    const uint32_t kind = KindOf(e);
    const bool numberOp = op == ValueOp::Int32 || op == ValueOp::Int64;
    TiXmlElement* node = nullptr;
    if (kind == ContextKind::RegisterNode) {
        node = e;
    } else if (kind == ContextKind::Feature || (kind == ContextKind::Enumeration && numberOp)) {
        if (TiXmlElement* v = e->FirstChildElement("Value")) {
            if (valueKindFits(KindOf(v), o)) {
                t.status = GevResult::Ok;
                t.valueChild = v;
            }
            return t;
        }
        node = linkedRegisterNode(e);
    }
    if (node == nullptr)
        return t;
    const auto& reg = static_cast<FeatureRegContext*>(ContextOf(node))->Reg();
    if (registerTypeFits(reg->GetType(), o)) {
        t.status = GevResult::Ok;
        t.reg = reg;
    }
    return t;
}

// ---- queries ----

uint32_t FeatureDesc::GetFeatureType(const char* name, uint32_t& type)
{
    if (name == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, false);
    const TiXmlElement* e = find(name);
    if (e == nullptr)
        return GevResult::NotFound;
    static const std::pair<const char*, uint32_t> kTypes[] = {
        {"integer", FeatureType::Integer}, {"float", FeatureType::Float},     {"string", FeatureType::String},
        {"stringreg", FeatureType::String}, {"boolean", FeatureType::Boolean}, {"command", FeatureType::Command},
        {"enumeration", FeatureType::Enumeration},
    };
    const std::string tag = lower(e->Value());
    for (const auto& [t, n] : kTypes) {
        if (tag == t) {
            type = n;
            return GevResult::Ok;
        }
    }
    return GevResult::InvalidArgument;
}

uint32_t FeatureDesc::GetFeatureAddress(const char* name, uint32_t& address)
{
    if (name == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, false);
    TiXmlElement* e = find(name);
    if (e == nullptr)
        return GevResult::NotFound;
    const TiXmlElement* node = registerNodeOf(e);
    if (node == nullptr)
        return GevResult::Fail;
    address = static_cast<FeatureRegContext*>(ContextOf(node))->Reg()->GetAddress();
    return GevResult::Ok;
}

uint32_t FeatureDesc::GetAccessMode(const char* name, uint32_t& access)
{
    if (name == nullptr)
        return GevResult::NoAccess;
    Hold hold(m_Lock, false);
    const TiXmlElement* node = registerNodeOf(find(name));
    const TiXmlElement* mode = node != nullptr ? node->FirstChildElement("AccessMode") : nullptr;
    uint32_t a;
    if (mode == nullptr || !XmlText::AccessNumber(mode->GetText(), a))
        return GevResult::NoAccess;
    access = a;
    return GevResult::Ok;
}

uint32_t FeatureDesc::GetEnumEntryName(const char* enumeration, std::string& entry)
{
    if (enumeration == nullptr)
        return GevResult::InvalidArgument;
    entry.clear();
    uint32_t value;
    const uint32_t st = GetUInt32(enumeration, value);
    if (st != GevResult::Ok)
        return st;
    Hold hold(m_Lock, false);
    const TiXmlElement* e = find(enumeration);
    if (e == nullptr)
        return GevResult::NotFound;
    for (const TiXmlElement* x = e->FirstChildElement("EnumEntry"); x != nullptr;
         x = x->NextSiblingElement("EnumEntry")) {
        const TiXmlElement* v = x->FirstChildElement("Value");
        int64_t n;
        if (v == nullptr || KindOf(x) != ContextKind::EnumEntry || !XmlText::ParseInt64(textOf(v), n))
            return GevResult::Fail;
        if (static_cast<uint32_t>(n) == value) {
            const char* name = x->Attribute("Name");
            entry = name != nullptr ? name : "";
            return GevResult::Ok;
        }
    }
    return GevResult::Fail;
}

std::shared_ptr<const std::vector<std::string>> FeatureDesc::GetEnumEntryNames(const char* enumeration)
{
    if (enumeration == nullptr)
        return nullptr;
    Hold hold(m_Lock, true);
    const TiXmlElement* e = find(enumeration);
    if (KindOf(e) != ContextKind::Enumeration)
        return nullptr;
    auto& context = static_cast<EnumFeatureContext&>(*ContextOf(e));
    if (context.stale || !context.names) {
        auto names = std::make_shared<std::vector<std::string>>();
        for (const TiXmlElement* x = e->FirstChildElement("EnumEntry"); x != nullptr;
             x = x->NextSiblingElement("EnumEntry")) {
            if (const char* name = x->Attribute("Name"))
                names->push_back(name);
        }
        context.names = std::move(names);
        context.stale = false;
    }
    return context.names;
}

uint32_t FeatureDesc::GetFeatureChildValue(const char* feature, const char* tag, std::string& text)
{
    if (feature == nullptr || tag == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, false);
    const TiXmlElement* f = find(feature);
    const TiXmlElement* child = f != nullptr ? f->FirstChildElement(tag) : nullptr;
    if (child == nullptr)
        return GevResult::NotFound;
    text = textOf(child);
    return GevResult::Ok;
}

// ---- values ----
// The target is resolved under the description lock; a register is accessed
// after the lock is given up, so hooks never run with it held.

uint32_t FeatureDesc::getNumber(const char* name, ValueOp op, int64_t& bits)
{
    if (name == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, false);
    const Target t = resolve(name, op);
    if (t.status != GevResult::Ok)
        return t.status;
    if (t.valueChild != nullptr) {
        if (op == ValueOp::Int64)
            return XmlText::ParseInt64(textOf(t.valueChild), bits) ? GevResult::Ok : GevResult::Fail;
        uint32_t b;
        if (!parse32(t.valueChild, b))
            return GevResult::Fail;
        bits = b;
        return GevResult::Ok;
    }
    hold.Release();
    switch (t.reg->GetType()) {
    case RegType::Int32: bits = static_cast<uint32_t>(static_cast<IntReg&>(*t.reg).GetValue()); break;
    case RegType::UInt32: bits = static_cast<UIntReg&>(*t.reg).GetValue(); break;
    default: bits = static_cast<Int64Reg&>(*t.reg).GetValue(); break;
    }
    return GevResult::Ok;
}

uint32_t FeatureDesc::setNumber(const char* name, ValueOp op, int64_t bits)
{
    if (name == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, true);
    const Target t = resolve(name, op);
    if (t.status != GevResult::Ok)
        return t.status;
    if (t.valueChild != nullptr) {
        std::string text;
        if (op == ValueOp::Int64)
            text = std::to_string(bits);
        else if (KindOf(t.valueChild) == ContextKind::Int32)
            text = std::to_string(static_cast<int32_t>(static_cast<uint32_t>(bits)));
        else
            text = std::to_string(static_cast<uint32_t>(bits));
        if (!setText(t.valueChild, text))
            return GevResult::Fail;
        MarkDirty();
        return GevResult::Ok;
    }
    hold.Release();
    bool accepted;
    switch (t.reg->GetType()) {
    case RegType::Int32:
        accepted = static_cast<IntReg&>(*t.reg).SetValue(static_cast<int32_t>(static_cast<uint32_t>(bits)));
        break;
    case RegType::UInt32: accepted = static_cast<UIntReg&>(*t.reg).SetValue(static_cast<uint32_t>(bits)); break;
    default: accepted = static_cast<Int64Reg&>(*t.reg).SetValue(bits); break;
    }
    return accepted ? GevResult::Ok : GevResult::Fail;
}

uint32_t FeatureDesc::GetInt32(const char* name, int32_t& value)
{
    int64_t bits;
    const uint32_t st = getNumber(name, ValueOp::Int32, bits);
    if (st == GevResult::Ok)
        value = static_cast<int32_t>(static_cast<uint32_t>(bits));
    return st;
}

uint32_t FeatureDesc::GetUInt32(const char* name, uint32_t& value)
{
    int64_t bits;
    const uint32_t st = getNumber(name, ValueOp::Int32, bits);
    if (st == GevResult::Ok)
        value = static_cast<uint32_t>(bits);
    return st;
}

uint32_t FeatureDesc::GetInt64(const char* name, int64_t& value)
{
    int64_t bits;
    const uint32_t st = getNumber(name, ValueOp::Int64, bits);
    if (st == GevResult::Ok)
        value = bits;
    return st;
}

uint32_t FeatureDesc::SetInt32(const char* name, int32_t value)
{
    return setNumber(name, ValueOp::Int32, static_cast<uint32_t>(value));
}

uint32_t FeatureDesc::SetUInt32(const char* name, uint32_t value)
{
    return setNumber(name, ValueOp::Int32, value);
}

uint32_t FeatureDesc::SetInt64(const char* name, int64_t value)
{
    return setNumber(name, ValueOp::Int64, value);
}

uint32_t FeatureDesc::GetFloat(const char* name, float& value)
{
    if (name == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, false);
    const Target t = resolve(name, ValueOp::Float);
    if (t.status != GevResult::Ok)
        return t.status;
    if (t.valueChild != nullptr) {
        float v;
        if (!XmlText::ParseFloat(textOf(t.valueChild), v))
            return GevResult::Fail;
        value = v;
        return GevResult::Ok;
    }
    hold.Release();
    value = static_cast<FloatReg&>(*t.reg).GetValue();
    return GevResult::Ok;
}

uint32_t FeatureDesc::SetFloat(const char* name, float value)
{
    if (name == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, true);
    const Target t = resolve(name, ValueOp::Float);
    if (t.status != GevResult::Ok)
        return t.status;
    if (t.valueChild != nullptr) {
        if (!setText(t.valueChild, XmlText::FormatFloat(value)))
            return GevResult::Fail;
        MarkDirty();
        return GevResult::Ok;
    }
    hold.Release();
    return static_cast<FloatReg&>(*t.reg).SetValue(value) ? GevResult::Ok : GevResult::Fail;
}

uint32_t FeatureDesc::GetString(const char* name, std::string& value)
{
    if (name == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, false);
    const Target t = resolve(name, ValueOp::String);
    if (t.status != GevResult::Ok)
        return t.status;
    if (t.valueChild != nullptr) {
        value = textOf(t.valueChild);
        return GevResult::Ok;
    }
    hold.Release();
    value = static_cast<StringReg&>(*t.reg).GetValue();
    return GevResult::Ok;
}

uint32_t FeatureDesc::SetString(const char* name, const char* value)
{
    if (name == nullptr || value == nullptr)
        return GevResult::InvalidArgument;
    Hold hold(m_Lock, true);
    const Target t = resolve(name, ValueOp::String);
    if (t.status != GevResult::Ok)
        return t.status;
    if (t.valueChild != nullptr) {
        if (!setText(t.valueChild, value))
            return GevResult::Fail;
        MarkDirty();
        return GevResult::Ok;
    }
    hold.Release();
    return static_cast<StringReg&>(*t.reg).SetValue(value) ? GevResult::Ok : GevResult::Fail;
}

uint32_t FeatureDesc::SetEnumValue(const char* enumeration, const char* entry)
{
    if (enumeration == nullptr || entry == nullptr)
        return GevResult::InvalidArgument;
    int64_t value;
    {
        Hold hold(m_Lock, false);
        const TiXmlElement* e = find(enumeration);
        const TiXmlElement* x = e != nullptr ? FindFeature(e, XmlText::Clean(entry).c_str()) : nullptr;
        if (x == nullptr)
            return GevResult::NotFound;
        const TiXmlElement* v = x->FirstChildElement("Value");
        if (v == nullptr || KindOf(x) != ContextKind::EnumEntry || !XmlText::ParseInt64(textOf(v), value))
            return GevResult::Fail;
    }
    return SetUInt32(enumeration, static_cast<uint32_t>(value));
}

}  // namespace Kivu
