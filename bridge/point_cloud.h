#pragma once
// The point-cloud text file (-p, -w): one line "x encoder z intensity" per point and an empty
// line after each profile.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace lumabridge {

class PointCloudFile {
public:
    static constexpr const char* kDefaultName = "ScanData.txt";

    // Opens name (kDefaultName when empty) with its contents replaced; false when it did not open.
    bool Open(const std::string& name);
    bool IsOpen() const { return m_File != nullptr; }
    // Appends one profile and flushes; nothing when the file is not open. The encoder is
    // printed as a signed number of at least 6 digits.
    void WriteProfile(const double* x, const double* z, const int32_t* intensity, size_t count, uint32_t encoder);
    void Close();

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> m_File;
};

}  // namespace lumabridge
