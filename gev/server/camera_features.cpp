// Description building, feature values and raw register access.
#include "gev/server/camera.h"
#include "gev/server/camera_guard.h"

#include "gev/server/camera_pixel_formats.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace Kivu {
namespace {

// Texts handed out through const char** stay valid until the same thread's next such call.
const char* keep(std::string text)
{
    thread_local std::string kept;
    kept = std::move(text);
    return kept.c_str();
}

bool parseInt64(const std::string& text, int64_t& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return false;
    value = v;
    return true;
}

bool parseFloat(const std::string& text, float& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const float v = std::strtof(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0')
        return false;
    value = v;
    return true;
}

const char* unknownLength = "Error: Unknown register length!";

}  // namespace

// Description building --------------------------------------------------------

uint32_t Camera::AddCategory(const char* name, const char* parentCategory)
{
    return guarded(__func__, [&] { return m_Features->AddCategory(name, parentCategory); });
}

uint32_t Camera::AddRegisterFeature(int32_t kind, const char* name, const char* category, uint16_t accessMode,
                                    const char* description, uint16_t standardNamespace)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (name == nullptr || accessMode > 3)
            return GevResult::InvalidArgument;
        const std::string node = std::string("reg") + name;
        uint32_t st;
        switch (kind) {
        case 0:
            st = m_Features->AddIntRegSigned(node.c_str(), 0, accessMode, 8);
            break;
        case 1:
        case 6:
        case 7:
            st = m_Features->AddIntRegUnsigned(node.c_str(), 0, accessMode, standardNamespace != 0);
            break;
        case 2:
        case 5:
            st = m_Features->AddIntRegSigned(node.c_str(), 0, accessMode, 4);
            break;
        case 3:
            st = m_Features->AddFloatReg(node.c_str(), 0.0f, accessMode);
            break;
        case 4: {
            st = m_Features->AddStringReg(name, accessMode);
            if (st != GevResult::Ok)
                return st;
            if (category == nullptr ||
                m_Features->SetFeatureChildText(category, "pFeature", name, true) != GevResult::Ok)
                m_Features->RemoveFeature(name);
            if (description != nullptr)
                m_Features->SetFeatureChildText(name, "Description", description, false);
            return GevResult::Ok;
        }
        default:
            return GevResult::InvalidArgument;
        }
        if (st != GevResult::Ok)
            return st;
        static const char* const kTags[] = {"Integer", "Integer", "Integer", "Float",
                                            nullptr,   "Boolean", "Command", "Enumeration"};
        st = m_Features->AddFeature(kTags[kind], name, standardNamespace != 0 ? "Standard" : nullptr, category);
        if (st != GevResult::Ok) {
            m_Features->RemoveFeature(node.c_str());
            return st;
        }
        st = m_Features->SetFeatureChildText(name, "pValue", node.c_str(), false);
        if (st == GevResult::Ok)
            st = m_Features->LinkFeatureRegister(name, node.c_str());
        if (st != GevResult::Ok) {
            m_Features->RemoveFeature(name);
            m_Features->RemoveFeature(node.c_str());
            return st;
        }
        if (description != nullptr)
            return m_Features->SetFeatureChildText(name, "Description", description, false);
        return GevResult::Ok;
    });
}

uint32_t Camera::AddFeatureNode(const char* elementType, const char* name, const char* category,
                                uint16_t nameSpace)
{
    return guarded(__func__, [&] {
        return m_Features->AddFeature(elementType, name, nameSpace == 0 ? "Standard" : "Custom", category);
    });
}

uint32_t Camera::RemoveFeature(const char* name)
{
    return guarded(__func__, [&] { return m_Features->RemoveFeature(name); });
}

uint32_t Camera::SetFeatureChildValue(const char* feature, const char* childTag, const char* text, bool addAnother)
{
    return guarded(__func__,
                   [&] { return m_Features->SetFeatureChildText(feature, childTag, text, addAnother); });
}

uint32_t Camera::GetFeatureChildValue(const char* feature, const char* childTag, const char** out)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (out == nullptr)
            return GevResult::InvalidArgument;
        std::string text;
        const uint32_t st = m_Features->GetFeatureChildValue(feature, childTag, text);
        if (st == GevResult::Ok)
            *out = keep(std::move(text));
        return st;
    });
}

uint32_t Camera::SetFeatureChildAttribute(const char* feature, const char* childTag, const char* childText,
                                          const char* attrName, const char* attrValue)
{
    return guarded(__func__, [&] {
        return m_Features->SetFeatureChildAttribute(feature, childTag, childText, attrName, attrValue);
    });
}

uint32_t Camera::AddEnumEntry(const char* enumName, const char* entryName, uint32_t value)
{
    return guarded(__func__, [&] { return m_Features->AddEnumEntry(enumName, entryName, value); });
}

uint32_t Camera::SetEnumEntryChildValue(const char* enumName, const char* entryName, const char* childTag,
                                        const char* text, bool addAnother)
{
    return guarded(__func__, [&] {
        return m_Features->SetEntryChildText(enumName, entryName, childTag, text, addAnother);
    });
}

uint32_t Camera::RemoveFeatureChild(const char* feature, const char* childTag, const char* text)
{
    // 0 on every path.
    return guarded<uint32_t>(__func__, GevResult::Ok, [&] {
        m_Features->RemoveFeatureChild(feature, childTag, text);
        return GevResult::Ok;
    });
}

uint32_t Camera::RemoveEnumEntry(const char* enumName, const char* entryName)
{
    // 0 on every path.
    return guarded<uint32_t>(__func__, GevResult::Ok, [&] {
        m_Features->RemoveEnumEntry(enumName, entryName);
        return GevResult::Ok;
    });
}

const char* const* Camera::GetEnumEntryTable(const char* enumName, uint32_t* count)
{
    return guarded<const char* const*>(__func__, nullptr, [&]() -> const char* const* {
        auto names = m_Features->GetEnumEntryNames(enumName);
        if (!names)
            return nullptr;
        std::lock_guard lock(m_EnumTablesMutex);
        // A table stays alive with the camera, so a caller's pointer never dangles.
        for (const auto& table : m_EnumTables)
            if (table->names == names) {
                if (count != nullptr)
                    *count = static_cast<uint32_t>(names->size());
                return table->pointers.data();
            }
        auto table = std::make_unique<EnumTable>();
        table->names = names;
        for (const std::string& n : *names)
            table->pointers.push_back(n.c_str());
        table->pointers.push_back(nullptr);
        if (count != nullptr)
            *count = static_cast<uint32_t>(names->size());
        m_EnumTables.push_back(std::move(table));
        return m_EnumTables.back()->pointers.data();
    });
}

uint32_t Camera::SetFeatureDescription(const char* name, const char* text)
{
    return guarded(__func__, [&] { return m_Features->SetFeatureChildText(name, "Description", text, false); });
}

uint32_t Camera::GetFeatureAddress(const char* name, uint32_t* address)
{
    return guarded(__func__, [&]() -> uint32_t {
        return address == nullptr ? GevResult::InvalidArgument : m_Features->GetFeatureAddress(name, *address);
    });
}

uint32_t Camera::GetFeatureType(const char* name, uint32_t* type)
{
    return guarded(__func__, [&]() -> uint32_t {
        return type == nullptr ? GevResult::InvalidArgument : m_Features->GetFeatureType(name, *type);
    });
}

uint32_t Camera::GetFeatureAccessMode(const char* name, uint32_t* mode)
{
    return guarded<uint32_t>(__func__, GevResult::NoAccess, [&]() -> uint32_t {
        uint32_t access = 0;
        if (mode == nullptr || m_Features->GetAccessMode(name, access) != GevResult::Ok)
            return GevResult::NoAccess;
        *mode = access;
        return GevResult::Ok;
    });
}

uint32_t Camera::SetFeatureAccessMode(const char* name, uint32_t mode)
{
    return guarded(__func__, [&] { return m_Features->SetAccessMode(name, mode); });
}

// Ranges ----------------------------------------------------------------------

uint32_t Camera::SetFloatRange(const char* name, float min, float max)
{
    return guarded(__func__, [&]() -> uint32_t {
        uint32_t type = 0;
        if (name == nullptr || min > max || m_Features->GetFeatureType(name, type) != GevResult::Ok ||
            type != FeatureType::Float)
            return GevResult::InvalidArgument;
        uint32_t st = m_Features->SetChildFloat(name, "Min", min);
        if (st != GevResult::Ok)
            return st;
        st = m_Features->SetChildFloat(name, "Max", max);
        if (st != GevResult::Ok)
            m_Features->RemoveFeatureChild(name, "Max", nullptr);
        return st;
    });
}

uint32_t Camera::SetIntegerRange(const char* name, int64_t min, int64_t max, uint64_t increment)
{
    return guarded(__func__, [&]() -> uint32_t {
        uint32_t type = 0;
        if (name == nullptr || max < min || m_Features->GetFeatureType(name, type) != GevResult::Ok ||
            type != FeatureType::Integer)
            return GevResult::InvalidArgument;
        RegShape shape;
        if (!regShape(name, shape))
            return GevResult::NoRegister;
        if (!shape.isSigned && (min < 0 || max < 0))
            return GevResult::InvalidArgument;
        auto write = [&](const char* tag, int64_t v) -> uint32_t {
            if (shape.length == 8)
                return m_Features->SetChildInt64(name, tag, v);
            if (shape.length != 4)
                throw std::runtime_error(unknownLength);
            if (shape.isSigned) {
                if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
                    return GevResult::InvalidArgument;
                return m_Features->SetChildInt32(name, tag, static_cast<int32_t>(v));
            }
            if (v > std::numeric_limits<uint32_t>::max())
                return GevResult::InvalidArgument;
            return m_Features->SetChildUInt32(name, tag, static_cast<uint32_t>(v));
        };
        uint32_t st = write("Min", min);
        if (st != GevResult::Ok)
            return st;
        st = write("Max", max);
        if (st != GevResult::Ok) {
            m_Features->RemoveFeatureChild(name, "Max", nullptr);
            return st;
        }
        if (increment != 0) {
            st = increment > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
                     ? GevResult::InvalidArgument
                     : m_Features->SetChildInt32(name, "Inc", static_cast<int32_t>(increment));
            if (st != GevResult::Ok) {
                m_Features->RemoveFeatureChild(name, "Max", nullptr);
                m_Features->RemoveFeatureChild(name, "Min", nullptr);
                return st;
            }
        }
        return GevResult::Ok;
    });
}

uint32_t Camera::GetIntegerRange(const char* name, int64_t* min, int64_t* max, uint32_t* increment)
{
    return guarded(__func__, [&]() -> uint32_t {
        uint32_t type = 0;
        if (name == nullptr || m_Features->GetFeatureType(name, type) != GevResult::Ok ||
            type != FeatureType::Integer)
            return GevResult::InvalidArgument;
        std::string text;
        int64_t lo = 0, hi = 0, inc = 1;
        if (m_Features->GetFeatureChildValue(name, "Min", text) != GevResult::Ok || !parseInt64(text, lo) ||
            m_Features->GetFeatureChildValue(name, "Max", text) != GevResult::Ok || !parseInt64(text, hi))
            return GevResult::NotFound;
        if (m_Features->GetFeatureChildValue(name, "Inc", text) == GevResult::Ok && !parseInt64(text, inc))
            return GevResult::Fail;
        if (min != nullptr)
            *min = lo;
        if (max != nullptr)
            *max = hi;
        if (increment != nullptr)
            *increment = static_cast<uint32_t>(inc);
        return GevResult::Ok;
    });
}

uint32_t Camera::GetFloatRange(const char* name, float* min, float* max)
{
    return guarded(__func__, [&]() -> uint32_t {
        uint32_t type = 0;
        if (name == nullptr || m_Features->GetFeatureType(name, type) != GevResult::Ok || type != FeatureType::Float)
            return GevResult::InvalidArgument;
        std::string text;
        float lo = 0, hi = 0;
        if (m_Features->GetFeatureChildValue(name, "Min", text) != GevResult::Ok || !parseFloat(text, lo) ||
            m_Features->GetFeatureChildValue(name, "Max", text) != GevResult::Ok || !parseFloat(text, hi))
            return GevResult::NotFound;
        if (min != nullptr)
            *min = lo;
        if (max != nullptr)
            *max = hi;
        return GevResult::Ok;
    });
}

// Values ------------------------------------------------------------------------

bool Camera::regShape(const char* name, RegShape& shape)
{
    const std::string node = std::string("reg") + name;
    std::string text;
    int64_t length = 0;
    if (m_Features->GetFeatureChildValue(node.c_str(), "Length", text) != GevResult::Ok || !parseInt64(text, length))
        return false;
    shape.length = static_cast<uint32_t>(length);
    shape.isSigned = true;
    if (m_Features->GetFeatureChildValue(node.c_str(), "Sign", text) == GevResult::Ok) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        shape.isSigned = text != "unsigned";
    }
    return true;
}

uint32_t Camera::SetIntegerValue(const char* name, int64_t value)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (name == nullptr)
            return GevResult::InvalidArgument;
        int64_t min = 0, max = 0;
        if (GetIntegerRange(name, &min, &max, nullptr) == GevResult::Ok && (value < min || value > max))
            return GevResult::InvalidArgument;
        uint32_t type = 0;
        if (m_Features->GetFeatureType(name, type) != GevResult::Ok || type != FeatureType::Integer)
            return GevResult::Fail;
        RegShape shape;
        if (!regShape(name, shape))
            return GevResult::NoRegister;
        if (!shape.isSigned && value < 0)
            return GevResult::InvalidArgument;
        if (shape.length == 8)
            return m_Features->SetInt64(name, value);
        if (shape.length != 4)
            throw std::runtime_error(unknownLength);
        // A value the register cannot hold is refused, not cut.
        if (shape.isSigned) {
            if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
                return GevResult::InvalidArgument;
            return m_Features->SetInt32(name, static_cast<int32_t>(value));
        }
        if (value > std::numeric_limits<uint32_t>::max())
            return GevResult::InvalidArgument;
        return m_Features->SetUInt32(name, static_cast<uint32_t>(value));
    });
}

uint32_t Camera::GetIntegerValue(const char* name, int64_t* out)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (name == nullptr || out == nullptr)
            return GevResult::InvalidArgument;
        *out = 0;
        RegShape shape;
        if (!regShape(name, shape))
            return GevResult::NoRegister;
        if (shape.length == 8)
            return m_Features->GetInt64(name, *out);
        if (shape.length != 4)
            throw std::runtime_error(unknownLength);
        uint32_t st;
        if (shape.isSigned) {
            int32_t v = 0;
            st = m_Features->GetInt32(name, v);
            *out = v;
        } else {
            uint32_t v = 0;
            st = m_Features->GetUInt32(name, v);
            *out = v;
        }
        return st;
    });
}

uint32_t Camera::SetFloatValue(const char* name, float value)
{
    return guarded(__func__, [&] { return m_Features->SetFloat(name, value); });
}

uint32_t Camera::SetStringValue(const char* name, const char* text)
{
    return guarded(__func__, [&] { return m_Features->SetString(name, text); });
}

uint32_t Camera::SetEnumValue(const char* name, const char* entryName)
{
    return guarded(__func__, [&] { return m_Features->SetEnumValue(name, entryName); });
}

uint32_t Camera::GetFloatValue(const char* name, float* out)
{
    return guarded(__func__, [&]() -> uint32_t {
        return out == nullptr ? GevResult::InvalidArgument : m_Features->GetFloat(name, *out);
    });
}

uint32_t Camera::GetStringValue(const char* name, char* buffer, uint32_t bufferSize)
{
    return guarded(__func__, [&]() -> uint32_t {
        uint32_t type = 0;
        if (m_Features->GetFeatureType(name, type) != GevResult::Ok)
            return GevResult::Fail;
        std::string text;
        const uint32_t st = type == FeatureType::Enumeration ? m_Features->GetEnumEntryName(name, text)
                                                             : m_Features->GetString(name, text);
        if (st != GevResult::Ok)
            return st;
        if (buffer == nullptr || bufferSize < text.size() + 1)
            return GevResult::Fail;
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return GevResult::Ok;
    });
}

uint32_t Camera::GetFeatureValueText(const char* name, const char** out)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (out == nullptr)
            return GevResult::InvalidArgument;
        std::string text;
        const uint32_t st = m_Features->GetString(name, text);
        if (st == GevResult::Ok)
            *out = keep(std::move(text));
        return st;
    });
}

// Raw access ------------------------------------------------------------------

uint32_t Camera::WriteRegister(uint32_t address, uint32_t value)
{
    return guarded(__func__, [&]() -> uint32_t {
        return m_Tree->WriteRegister(address, value, Origin::Local) == 0 ? GevResult::Ok : GevResult::Fail;
    });
}

uint32_t Camera::ReadRegister(uint32_t address, uint32_t* value)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (value == nullptr)
            return GevResult::InvalidArgument;
        uint32_t status = 0;
        const uint32_t v = m_Tree->ReadRegister(address, &status, Origin::Local);
        if (status != 0)
            return GevResult::Fail;
        *value = v;
        return GevResult::Ok;
    });
}

uint32_t Camera::WriteMemory(uint32_t address, const void* data, uint32_t length)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (data == nullptr)
            return GevResult::InvalidArgument;
        return m_Tree->WriteMemory(address, static_cast<const uint8_t*>(data), length, Origin::Local) == 0
                   ? GevResult::Ok
                   : GevResult::Fail;
    });
}

uint32_t Camera::ReadMemory(uint32_t address, void* data, uint32_t length)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (data == nullptr)
            return GevResult::InvalidArgument;
        return m_Tree->ReadMemory(address, static_cast<uint8_t*>(data), length, Origin::Local) == 0
                   ? GevResult::Ok
                   : GevResult::Fail;
    });
}

// Pixel-format entries ----------------------------------------------------------

uint32_t Camera::AddPixelFormat(const char* pfncName)
{
    return guarded(__func__, [&]() -> uint32_t {
        const uint32_t code = PixelFormatCode(pfncName);
        if (code == 0)
            return GevResult::Fail;
        return m_Features->AddEnumEntry("PixelFormat", pfncName, code);
    });
}

uint32_t Camera::AddPixelFormatEx(const char* pfncName, const char* pIsImplemented, const char* pIsAvailable)
{
    return guarded(__func__, [&]() -> uint32_t {
        uint32_t st = AddPixelFormat(pfncName);
        if (st != GevResult::Ok)
            return st;
        if (pIsImplemented != nullptr)
            st = m_Features->SetEntryChildText("PixelFormat", pfncName, "pIsImplemented", pIsImplemented, false);
        if (st == GevResult::Ok && pIsAvailable != nullptr)
            st = m_Features->SetEntryChildText("PixelFormat", pfncName, "pIsAvailable", pIsAvailable, false);
        return st;
    });
}

}  // namespace Kivu
