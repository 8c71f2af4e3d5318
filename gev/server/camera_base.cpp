#include "server/camera_base.h"

#include "model/default_features.h"

namespace Kivu {

CameraBase::CameraBase()
    : m_Tree(std::make_shared<RegTree>(kRegTreeBase, kRegTreeSize)),
      m_Features(std::make_shared<FeatureDesc>(m_Tree)),
      m_Registers(std::make_unique<RegisterMap>(m_Tree))
{
    DeclareDefaultFeatures(*m_Features);
}

CameraBase::~CameraBase() = default;

}  // namespace Kivu
