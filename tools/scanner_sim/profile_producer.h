#pragma once
// The sequence of streamed profiles: counters, injected faults and the record of what was sent.
// Not thread-safe; the owner serialises the calls.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scanner_sim/profile_container.h"

namespace scanner_sim {

// Faults by profile number (0 = the first profile sent since the simulator was made). Legacy
// frames take the flip, counter, garbage, close and start faults; the block faults do not apply.
struct StreamFaults {
    std::vector<uint64_t> flipByte;  // one byte inverted after the CRC was computed
    size_t flipOffset = 0;  // from the container start; 0 = the middle of the container
    std::vector<uint64_t> counterGap;  // the picture counter skips gapSize values before these
    uint16_t gapSize = 1;
    std::vector<uint64_t> counterRepeat;  // the previous picture counter again
    std::vector<uint64_t> zeroBlockLength;  // the statistics block's length field is 0 (CRC of the bytes sent)
    std::vector<uint64_t> missingEndBlock;  // no end block; the total length counts the other blocks
    std::vector<uint64_t> lengthMismatch;  // the total length is 4 more than the blocks (CRC of the bytes sent)
    std::vector<uint64_t> unknownTag;  // a 16-byte block 0x021A0999 before the end block
    std::vector<uint64_t> garbageBefore;  // 64 bytes of garbage with a false "02 19" header first
    uint32_t garbageLength = 0xFFFFFF;  // the false header's 24-bit length
    std::vector<uint64_t> closeMidFrame;  // half of the container, then the connection is closed
    bool startMidFrame = false;  // the first profile of each connection without its first half
    bool splitAtBlocks = false;  // every profile container is written one block per write
};

enum class ProfileFault {
    None, FlipByte, ZeroBlockLength, MissingEndBlock, LengthMismatch, UnknownTag, CloseMidFrame, StartMidFrame
};

enum class CounterFault { None, Gap, Repeat };

struct SentProfile {
    ProfileCounters counters;
    std::shared_ptr<const ProfileSettings> settings;
    int connection = 0;
    ProfileFault fault = ProfileFault::None;
    bool garbageBefore = false;
    CounterFault counterFault = CounterFault::None;
};

// The container of a sent profile with its fault (whole, also for the close and start faults);
// boundaries receives the offsets of its blocks.
std::string sentContainer(const SentProfile& profile, const StreamFaults& faults,
                          std::vector<size_t>* boundaries = nullptr);

struct CounterStart {
    uint16_t pictureCounter = 0;
    uint32_t timeStamp = 0;  // + line time (us ticks) per profile
    uint32_t encoderHtl = 1000;  // both + triggerencoderstep per profile
    uint32_t encoderTtl = 500000;
};

// Wire bytes of a run of profiles, cut into the writes that carry them.
struct ProfileBatch {
    std::string bytes;
    std::vector<size_t> cuts;  // write boundaries inside bytes (ascending, without 0 and size)
    std::vector<SentProfile> profiles;
    bool closeAfter = false;  // the connection is to be closed once the bytes went out
};

class ProfileProducer {
public:
    explicit ProfileProducer(CounterStart start = {}, StreamFaults faults = {}, size_t historyLimit = 100000);

    // The next `count` profiles; nothing changes until Commit(). A close-mid-frame fault ends the batch.
    ProfileBatch Build(const std::shared_ptr<const ProfileSettings>& settings, int count, int connection,
                       bool connectionStart) const;
    void Commit(const ProfileBatch& batch);  // the batch was written: counters advance, profiles recorded

    void ResetEncoders();  // the next profile carries 0 on both encoders
    void SetFaults(StreamFaults faults) { m_Faults = std::move(faults); }
    const StreamFaults& Faults() const { return m_Faults; }

    uint64_t SentCount() const { return m_Next.index; }
    std::optional<SentProfile> Sent(uint64_t index) const;  // the last historyLimit profiles
    // Counters of the last profile sent (the start values before the first).
    ProfileCounters LastCounters() const { return m_Last; }
    ProfileCounters NextCounters() const { return m_Next; }  // before counter faults

private:
    StreamFaults m_Faults;
    size_t m_HistoryLimit;
    ProfileCounters m_Next;
    ProfileCounters m_Last;
    std::deque<SentProfile> m_History;
};

}  // namespace scanner_sim
