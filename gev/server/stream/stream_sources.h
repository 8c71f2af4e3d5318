#pragma once
// The device's video sources as its stream channels see them: the selected
// source (the SourceSelector register), the channel each source streams on
// (SourceStreamChannel) and the source each channel serves.
#include "model/register.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace Kivu {

// The value of a 4-byte number register, signed or unsigned, as 32 bits
// (internal access: its callbacks run); 0 for any other register.
uint32_t RegisterValue32(Register& reg);
// Stores value into such a register; false for any other or when refused.
bool SetRegisterValue32(Register& reg, uint32_t value);

class StreamSources {
public:
    // Each channel serves the source of its own index until an acquisition
    // starts on it.
    explicit StreamSources(uint32_t channels = 1);
    StreamSources(const StreamSources&) = delete;
    StreamSources& operator=(const StreamSources&) = delete;

    // The SourceSelector register (may be null: source 0 is selected).
    void SetSelector(std::shared_ptr<Register> selector);
    uint32_t Selected() const;

    // A source never assigned streams on the channel of its own index.
    uint32_t ChannelOf(uint32_t source) const;
    // False (nothing stored) for a channel that does not exist.
    bool SetChannelOf(uint32_t source, uint32_t channel);

    // New channel set: every channel serves its own index again; assignments
    // to channels no longer there are dropped.
    void SetChannelCount(uint32_t channels);
    uint32_t CurrentSource(uint32_t channel) const;
    // A change calls the change handler with the channel, on this thread.
    void SetCurrentSource(uint32_t channel, uint32_t source);
    void SetChangeHandler(std::function<void(uint32_t channel)> handler);
    // Whether some channel serves source.
    bool IsServed(uint32_t source) const;

private:
    mutable std::mutex m_Mutex;
    std::shared_ptr<Register> m_Selector;
    std::map<uint32_t, uint32_t> m_ChannelOf;
    std::vector<uint32_t> m_Current;
    std::function<void(uint32_t)> m_Changed;
};

}  // namespace Kivu
