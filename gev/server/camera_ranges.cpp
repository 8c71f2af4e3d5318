// The Min, Max and Inc children of integer and float features.
#include "server/camera.h"
#include "server/camera_feature_text.h"
#include "server/camera_guard.h"

#include <limits>
#include <stdexcept>
#include <string>

namespace Kivu {

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
                throw std::runtime_error(kUnknownRegisterLength);
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

}  // namespace Kivu
