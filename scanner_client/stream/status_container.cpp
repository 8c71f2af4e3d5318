#include "stream/status_container.h"

#include "platform/bytes.h"
#include "stream/protocol.h"

namespace quillan::stream {
namespace {

// Reads fields of one block; a field that does not lie inside the block leaves its target.
class BlockFields {
public:
    BlockFields(const uint8_t* block, size_t length, StatusRecord& record)
        : m_Block(block), m_Length(length), m_Record(record)
    {
    }

    bool has(size_t offset, size_t width) const { return offset + width <= m_Length; }
    uint8_t byte(size_t offset) const { return m_Block[offset]; }

    void u8(size_t offset, size_t field)
    {
        if (has(offset, 1))
            m_Record[field] = m_Block[offset];
    }
    void u16(size_t offset, size_t field)
    {
        if (has(offset, 2))
            m_Record[field] = platform::loadLE16(m_Block + offset);
    }
    void u24(size_t offset, size_t field)
    {
        if (has(offset, 3))
            m_Record[field] = static_cast<int32_t>(m_Block[offset] | (uint32_t{m_Block[offset + 1]} << 8) |
                                                  (uint32_t{m_Block[offset + 2]} << 16));
    }
    void u32(size_t offset, size_t field, uint32_t mask = 0xFFFFFFFFu)
    {
        if (has(offset, 4))
            m_Record[field] = static_cast<int32_t>(platform::loadLE32(m_Block + offset) & mask);
    }
    void bits(size_t offset, unsigned shift, unsigned width, size_t field)
    {
        if (has(offset, 1))
            m_Record[field] = (m_Block[offset] >> shift) & ((1u << width) - 1);
    }
    void set(size_t field, int32_t value) { m_Record[field] = value; }

private:
    const uint8_t* m_Block;
    size_t m_Length;
    StatusRecord& m_Record;
};

void decodeProfileHeader(BlockFields f)
{
    f.u16(8, PictureCounter);
    f.u32(10, TimeStamp);
    f.u32(14, EncoderHtl);
    f.u32(22, EncoderTtlRs422);
    if (f.has(30, 2)) {
        const uint8_t a = f.byte(30), b = f.byte(31);
        f.set(IoState, ((a >> 1) & 1) | (((a >> 5) & 1) << 1) | (((b >> 1) & 1) << 2) | (((b >> 5) & 1) << 3));
    }
    f.u32(43, UserIoCounter);
    f.u32(47, ExposureTime, 0x00FFFFFF);
}

void decodeStatistics(BlockFields f)
{
    f.u32(12, CpuFifoFill);
    f.u32(16, FpgaFifoFill);
    f.u8(32, Temperature);
    f.u16(46, EthernetBandwidth);
    f.u16(48, DmaBandwidth);
    f.u16(53, StatisticUserData);
}

void decodeUserIoLine(BlockFields& f, size_t offset, size_t line)
{
    const auto at = [line](UserIoField field) { return userIoIndex(line, field); };
    f.u8(offset, at(Function));
    f.bits(offset + 1, 0, 1, at(FunctionLaserOff));
    f.bits(offset + 1, 1, 1, at(FunctionProfileEnable));
    f.bits(offset + 1, 2, 1, at(FunctionResetCounter));
    f.bits(offset + 2, 0, 7, at(Output));
    f.bits(offset + 2, 7, 1, at(OutputFunction));
    f.bits(offset + 3, 1, 1, at(InputFunction));
    f.bits(offset + 3, 2, 1, at(InputLoad));
    f.bits(offset + 4, 0, 1, at(ResetCounterBaseTimeCounter));
    f.bits(offset + 4, 1, 1, at(ResetCounterPictureCounter));
    f.bits(offset + 4, 2, 1, at(ResetCounterEncoderHtl));
    f.bits(offset + 4, 3, 1, at(ResetCounterEncoderTtlRs422));
    f.bits(offset + 5, 0, 2, at(ResetCounterRepeat));
    f.bits(offset + 5, 2, 2, at(ResetCounterSignaledge));
}

void decodeRegisters(BlockFields f)
{
    f.u8(8, ScannerState);
    f.bits(8, 6, 1, LaserActive);
    if (f.has(9, 1)) {
        const uint8_t trigger = f.byte(9);
        const bool amountMode = trigger & 0x08;
        f.set(TriggerSource, amountMode ? -1 : trigger & 0x7F);
        f.set(TriggerAmountProfilesY, amountMode ? trigger & 0x7F : -1);
        f.set(CameraRunning, trigger >> 7);
    }
    f.u24(10, LineTime);
    f.u24(13, TriggerDelay);
    f.u24(22, SyncOutDelay);
    f.u24(25, SyncOut);
    f.u8(29, SignalEnable);
    f.bits(31, 0, 1, ContentZ);
    f.bits(31, 1, 1, ContentStrength);
    f.bits(31, 2, 1, ContentWidth);
    f.bits(31, 3, 1, ContentReserved);
    f.u16(36, TriggerEncoderStep);
    f.u8(47, SignalSelection);
    f.u8(48, SignalWidthMin);
    f.u8(49, SignalWidthMax);
    f.u16(52, AmountProfilesY);
    f.u16(67, SignalStrengthMin);
    f.bits(71, 0, 1, EncoderCountDirection);
    if (f.has(71, 2)) {
        const bool variant = f.byte(71) & 0x04;
        switch (f.byte(72)) {
        case 0: f.set(EncoderTriggerFunction, variant ? 0 : 3); break;
        case 1: f.set(EncoderTriggerFunction, variant ? 1 : 4); break;
        case 2:
            if (variant)
                f.set(EncoderTriggerFunction, 2);
            break;
        default: break;
        }
    }
    for (size_t line = 0; line < kUserIoLines; ++line)
        decodeUserIoLine(f, 136 + 6 * line, line);
}

}  // namespace

void decodeStatusContainer(const uint8_t* container, size_t size, StatusRecord& record)
{
    if (size < kBlockHeaderSize || platform::loadLE32(container) != kContainerMagic)
        return;
    // The walk stays inside both the container's own length and the stored bytes.
    // A total length of 0 (accepted by the stream parser) leaves only the stored bytes.
    const size_t total = platform::loadLE32(container + 4);
    const size_t limit = total == 0 || total > size ? size : total;
    size_t offset = kBlockHeaderSize;
    while (offset + kBlockHeaderSize <= limit) {
        const uint8_t* block = container + offset;
        const uint32_t tag = platform::loadLE32(block);
        const size_t length = platform::loadLE32(block + 4);
        if (length == 0 || length > limit - offset)
            return;
        BlockFields fields(block, length, record);
        switch (tag) {
        case kTagProfileHeader: decodeProfileHeader(fields); break;
        case kTagStatistics: decodeStatistics(fields); break;
        case kTagRoiX:
            fields.u16(10, RoiOffsetX);
            fields.u16(12, RoiWidthX);
            fields.u16(14, RoiStepX);
            break;
        case kTagRoiZ:
            fields.u16(10, RoiOffsetZ);
            fields.u16(12, RoiHeightZ);
            break;
        case kTagRegistersA:
        case kTagRegistersB: decodeRegisters(fields); break;
        case kTagEnd: return;
        default: break;
        }
        offset += length;
    }
}

}  // namespace quillan::stream
