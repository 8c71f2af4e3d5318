#pragma once
// The device state every camera starts from: register tree, default registers,
// feature description, pixel-format tables and the GigE Vision mode.
#include "gev_camera.h"

#include "model/feature_desc.h"
#include "model/register_map.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace Kivu {

class CameraBase : public CGevCamera {
public:
    CameraBase();
    ~CameraBase() override;
    CameraBase(const CameraBase&) = delete;
    CameraBase& operator=(const CameraBase&) = delete;

    const std::shared_ptr<RegTree>& Tree() const { return m_Tree; }
    const std::shared_ptr<FeatureDesc>& Features() const { return m_Features; }
    const RegisterMap& Registers() const { return *m_Registers; }

protected:
    std::atomic<uint16_t> m_GevMode{0};
    std::shared_ptr<RegTree> m_Tree;
    std::shared_ptr<FeatureDesc> m_Features;
    std::unique_ptr<RegisterMap> m_Registers;
};

}  // namespace Kivu
