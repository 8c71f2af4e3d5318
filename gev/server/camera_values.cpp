// Feature values: integers by the shape of their "reg" node, floats, strings
// and enumerations through the feature description.
#include "server/camera.h"
#include "server/camera_feature_text.h"
#include "server/camera_guard.h"

#include <cctype>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace Kivu {

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
        // Booleans and enumerations hold their value in an integer register as well.
        if (m_Features->GetFeatureType(name, type) != GevResult::Ok ||
            (type != FeatureType::Integer && type != FeatureType::Boolean && type != FeatureType::Enumeration))
            return GevResult::Fail;
        RegShape shape;
        if (!regShape(name, shape))
            return GevResult::NoRegister;
        if (!shape.isSigned && value < 0)
            return GevResult::InvalidArgument;
        if (shape.length == 8)
            return m_Features->SetInt64(name, value);
        if (shape.length != 4)
            throw std::runtime_error(kUnknownRegisterLength);
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
            throw std::runtime_error(kUnknownRegisterLength);
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
            *out = keepText(std::move(text));
        return st;
    });
}

}  // namespace Kivu
