// Description building: thin forwards into the feature description, the
// composite integer, float, string, boolean, command and enumeration features,
// and the PixelFormat entries.
#include "server/camera.h"
#include "server/camera_feature_text.h"
#include "server/camera_guard.h"

#include "server/camera_pixel_formats.h"

#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace Kivu {

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
            *out = keepText(std::move(text));
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
