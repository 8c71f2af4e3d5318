#include "scanner_sim/profile_producer.h"

#include <algorithm>

#include "scanner_sim/byte_buffer.h"
#include "scanner_sim/crc32_mpeg2.h"
#include "scanner_sim/legacy_frame.h"

namespace scanner_sim {
namespace {

constexpr uint32_t kUnknownTag = 0x021A0999;

bool listed(const std::vector<uint64_t>& list, uint64_t index)
{
    return std::find(list.begin(), list.end(), index) != list.end();
}

ProfileFault faultOf(const StreamFaults& f, uint64_t index)
{
    if (listed(f.closeMidFrame, index))
        return ProfileFault::CloseMidFrame;
    if (listed(f.flipByte, index))
        return ProfileFault::FlipByte;
    if (listed(f.zeroBlockLength, index))
        return ProfileFault::ZeroBlockLength;
    if (listed(f.missingEndBlock, index))
        return ProfileFault::MissingEndBlock;
    if (listed(f.lengthMismatch, index))
        return ProfileFault::LengthMismatch;
    if (listed(f.unknownTag, index))
        return ProfileFault::UnknownTag;
    return ProfileFault::None;
}

// The container with its blocks framed as the fault wants; boundaries get the block starts.
std::string frame(std::vector<Block> blocks, ProfileFault fault, std::vector<size_t>* boundaries)
{
    if (fault == ProfileFault::UnknownTag)
        blocks.push_back(Block{kUnknownTag, std::string(8, '\0')});
    const bool withEnd = fault != ProfileFault::MissingEndBlock;
    std::string out(8, '\0');
    put32(out, 0, kContainerMagic);
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (boundaries)
            boundaries->push_back(out.size());
        const size_t at = out.size();
        out.resize(at + 8);
        put32(out, at, blocks[i].tag);
        put32(out, at + 4, fault == ProfileFault::ZeroBlockLength && i == 1 ? 0 : static_cast<uint32_t>(8 + blocks[i].body.size()));
        out += blocks[i].body;
    }
    if (withEnd) {
        if (boundaries)
            boundaries->push_back(out.size());
        append32(out, kEndTag);
        append32(out, 12);
        put32(out, 4, static_cast<uint32_t>(out.size() + 4 + (fault == ProfileFault::LengthMismatch ? 4 : 0)));
        appendCrc(out);
    } else {
        put32(out, 4, static_cast<uint32_t>(out.size()));
    }
    return out;
}

ProfileCounters advance(const ProfileCounters& c, const ProfileSettings& s)
{
    return ProfileCounters{c.index + 1, static_cast<uint16_t>(c.pictureCounter + 1), c.timeStamp + s.status.lineTime,
                           c.encoderHtl + s.status.triggerEncoderStep, c.encoderTtl + s.status.triggerEncoderStep};
}

std::string garbage(uint32_t falseLength)
{
    std::string g(64, '\0');
    for (size_t i = 0; i < g.size(); ++i)
        g[i] = static_cast<char>(0xA5 ^ (i * 7));
    put8(g, 20, 0x02);
    put8(g, 21, 0x19);
    put24(g, 22, falseLength);
    put8(g, 25, 0);
    return g;
}

}  // namespace

std::string sentContainer(const SentProfile& p, const StreamFaults& faults, std::vector<size_t>* boundaries)
{
    const bool framed = p.fault != ProfileFault::CloseMidFrame && p.fault != ProfileFault::StartMidFrame &&
                        p.fault != ProfileFault::FlipByte;
    std::string c = p.settings->legacyType != 0
                        ? legacyProfileFrame(*p.settings, p.counters, p.settings->legacyType)
                        : frame(profileBlocks(*p.settings, p.counters), framed ? p.fault : ProfileFault::None, boundaries);
    if (p.fault == ProfileFault::FlipByte) {
        const size_t at = faults.flipOffset != 0 && faults.flipOffset < c.size() ? faults.flipOffset : c.size() / 2;
        c[at] = static_cast<char>(~c[at]);
    }
    return c;
}

ProfileProducer::ProfileProducer(CounterStart start, StreamFaults faults, size_t historyLimit)
    : m_Faults(std::move(faults)), m_HistoryLimit(historyLimit)
{
    m_Next = ProfileCounters{0, start.pictureCounter, start.timeStamp, start.encoderHtl, start.encoderTtl};
    m_Last = m_Next;
}

ProfileBatch ProfileProducer::Build(const std::shared_ptr<const ProfileSettings>& settings, int count, int connection,
                                    bool connectionStart) const
{
    ProfileBatch batch;
    ProfileCounters next = m_Next;
    uint16_t previous = m_Last.pictureCounter;
    for (int i = 0; i < count; ++i) {
        ProfileCounters c = next;
        CounterFault counterFault = CounterFault::None;
        if (listed(m_Faults.counterRepeat, c.index) && c.index > 0) {
            c.pictureCounter = previous;
            counterFault = CounterFault::Repeat;
        } else if (listed(m_Faults.counterGap, c.index)) {
            c.pictureCounter = static_cast<uint16_t>(c.pictureCounter + m_Faults.gapSize);
            counterFault = CounterFault::Gap;
        }

        SentProfile sent{c, settings, connection, faultOf(m_Faults, c.index), listed(m_Faults.garbageBefore, c.index),
                         counterFault};
        const bool blockFault = sent.fault == ProfileFault::ZeroBlockLength || sent.fault == ProfileFault::MissingEndBlock ||
                                sent.fault == ProfileFault::LengthMismatch || sent.fault == ProfileFault::UnknownTag;
        if (settings->legacyType != 0 && blockFault)
            sent.fault = ProfileFault::None;  // legacy frames have no blocks
        if (sent.fault == ProfileFault::None && connectionStart && i == 0 && m_Faults.startMidFrame)
            sent.fault = ProfileFault::StartMidFrame;
        if (sent.garbageBefore) {
            batch.bytes += garbage(m_Faults.garbageLength);
            batch.cuts.push_back(batch.bytes.size());
        }
        std::vector<size_t> boundaries;
        const std::string container = sentContainer(sent, m_Faults, m_Faults.splitAtBlocks ? &boundaries : nullptr);
        const size_t from = sent.fault == ProfileFault::StartMidFrame ? container.size() / 2 : 0;
        const size_t to = sent.fault == ProfileFault::CloseMidFrame ? container.size() / 2 : container.size();
        const size_t base = batch.bytes.size();
        if (m_Faults.splitAtBlocks && base != 0 && (batch.cuts.empty() || batch.cuts.back() != base))
            batch.cuts.push_back(base);
        for (size_t b : boundaries)
            if (b > from && b < to)
                batch.cuts.push_back(base + b - from);
        batch.bytes.append(container, from, to - from);
        batch.profiles.push_back(std::move(sent));
        previous = c.pictureCounter;
        next = advance(c, *settings);
        if (batch.profiles.back().fault == ProfileFault::CloseMidFrame) {
            batch.closeAfter = true;
            break;
        }
    }
    return batch;
}

void ProfileProducer::Commit(const ProfileBatch& batch)
{
    for (const SentProfile& p : batch.profiles) {
        m_Last = p.counters;
        m_Next = advance(p.counters, *p.settings);
        m_History.push_back(p);
        if (m_History.size() > m_HistoryLimit)
            m_History.pop_front();
    }
}

void ProfileProducer::ResetEncoders()
{
    m_Next.encoderHtl = 0;
    m_Next.encoderTtl = 0;
}

std::optional<SentProfile> ProfileProducer::Sent(uint64_t index) const
{
    if (m_History.empty() || index < m_History.front().counters.index || index > m_History.back().counters.index)
        return std::nullopt;
    return m_History[static_cast<size_t>(index - m_History.front().counters.index)];
}

}  // namespace scanner_sim
