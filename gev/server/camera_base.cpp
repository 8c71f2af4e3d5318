#include "gev/server/camera_base.h"

#include "gev/model/host_info.h"

namespace Kivu {

CameraBase::CameraBase()
    : m_Tree(std::make_shared<RegTree>(kRegTreeBase, kRegTreeSize)),
      m_Features(std::make_shared<FeatureDesc>(m_Tree)),
      m_Registers(std::make_unique<RegisterMap>(m_Tree))
{
}

CameraBase::~CameraBase() = default;

}  // namespace Kivu
