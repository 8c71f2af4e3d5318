#pragma once
// Root of the device library's own objects: a marker that tells live objects from destroyed ones.
#include <cstdint>

namespace Kivu {

constexpr uint32_t kLiveMarker = 0xC0FEBABE;
constexpr uint32_t kDeadMarker = 0xDEADBEAF;

class Base {
public:
    Base() = default;
    Base(const Base&) {}  // a copy is a live object of its own
    Base& operator=(const Base&) { return *this; }
    virtual ~Base() { *static_cast<volatile uint32_t*>(&m_Marker) = kDeadMarker; }

    uint32_t GetMarker() const { return m_Marker; }
    bool IsAlive() const { return m_Marker == kLiveMarker; }

protected:
    uint32_t m_Marker = kLiveMarker;
};

}  // namespace Kivu
