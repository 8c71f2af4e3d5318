#include "point_cloud.h"

namespace lumabridge {

bool PointCloudFile::Open(const std::string& name)
{
    m_File.reset(std::fopen(name.empty() ? kDefaultName : name.c_str(), "w"));
    return IsOpen();
}

void PointCloudFile::WriteProfile(const double* x, const double* z, const int32_t* intensity, size_t count,
                                  uint32_t encoder)
{
    if (!m_File)
        return;
    const int signedEncoder = static_cast<int>(encoder);  // modular: 0xFFFFFFFF prints -000001
    for (size_t i = 0; i < count; ++i)
        std::fprintf(m_File.get(), "%.6f %.6d %.6f %d\n", x[i], signedEncoder, z[i], intensity[i]);
    std::fputs("\n", m_File.get());
    std::fflush(m_File.get());
}

void PointCloudFile::Close()
{
    if (m_File)
        std::fflush(m_File.get());
    m_File.reset();
}

}  // namespace lumabridge
