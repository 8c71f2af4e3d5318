#pragma once
// The GenICam features every device starts with.
#include "model/feature_desc.h"

#include <cstdint>

namespace Kivu {

// Addresses of the default feature registers, which the camera and the
// stream channels rely on.
namespace DefaultFeatureAddress {
constexpr uint32_t RegionSelector = 0x10000;
constexpr uint32_t Width = 0x10004;
constexpr uint32_t Height = 0x10008;
constexpr uint32_t OffsetX = 0x1000C;
constexpr uint32_t OffsetY = 0x10010;
constexpr uint32_t PixelFormat = 0x10014;
constexpr uint32_t PayloadSize = 0x10018;
constexpr uint32_t AcquisitionMode = 0x1001C;
constexpr uint32_t IsMultistreaming = 0x10020;
constexpr uint32_t SourceSelector = 0x10024;
constexpr uint32_t SourceCount = 0x10028;
constexpr uint32_t SourceStreamChannel = 0x1002C;
constexpr uint32_t MaxWidth = 0x10030;
constexpr uint32_t MaxHeight = 0x10034;
}  // namespace DefaultFeatureAddress

// Declares the default categories and features into a fresh description.
// Raises std::runtime_error naming the feature when a declaration fails.
void DeclareDefaultFeatures(FeatureDesc& desc);

}  // namespace Kivu
