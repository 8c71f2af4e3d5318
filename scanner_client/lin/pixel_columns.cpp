#include "lin/pixel_columns.h"

#include "lin/raw_samples.h"

#include <cstring>

namespace quillan {
namespace {

class BoundedBytes {
public:
    BoundedBytes(const uint8_t* data, size_t end) : data_(data), end_(end) {}
    uint8_t at(size_t pos) const { return pos < end_ ? data_[pos] : 0; }
    void copy(size_t pos, uint8_t* out, size_t n) const
    {
        for (size_t i = 0; i < n; ++i)
            out[i] = at(pos + i);
    }

private:
    const uint8_t* data_;
    size_t end_;
};

void fitPeak(ProfileColumn& column, int echo)
{
    double peak = 0.0;
    FitPeakFromSamples(column, echo, peak);
    column.echoes[echo].peak = peak;
}

// One echo's fields from `pos`; returns the offset after them.
size_t decodeEcho(const BoundedBytes& in, size_t pos, const PixelColumnLayout& l, EchoPoint& e)
{
    e.valid = true;
    if (l.hasZ) {
        e.zRaw = in.at(pos) + 256 * in.at(pos + 1);
        e.zPixel = e.zRaw * 0.03125;
        pos += l.zBytes;
    }
    if (l.hasStrength) {
        e.strength = in.at(pos) * 4;
        pos += l.strengthBytes;
    }
    if (l.hasWidth) {
        const uint8_t b = in.at(pos);
        e.strength += b >> 6;
        e.width = b & 0x3F;
        pos += l.widthBytes;
    }
    if (l.hasReserved) {
        e.reserved = in.at(pos) + 8 * in.at(pos + 1);
        pos += l.reservedBytes;
    }
    return pos;
}

}  // namespace

size_t PixelColumnLayout::columnBytes() const
{
    const size_t echoBytes = (hasZ ? zBytes : 0) + (hasStrength ? strengthBytes : 0) + (hasWidth ? widthBytes : 0) +
                             (hasReserved ? reservedBytes : 0) + (rawPresent && rawPerEcho ? rawBytes : 0);
    size_t bytes = 0;
    for (int j = 0; j < kMaxEchoes; ++j)
        if (echoMask & (1u << j))
            bytes += echoBytes;
    if (rawPresent && !rawPerEcho)
        bytes += 4 * rawBytes;
    return bytes;
}

void DecodePixelColumns(const uint8_t* data, size_t offset, size_t loopEnd, size_t readEnd, bool wholeColumns,
                        const PixelColumnLayout& layout, DecodedProfile& profile)
{
    const BoundedBytes in(data, readEnd);
    const size_t columnBytes = layout.columnBytes();
    // Interleaved samples fit a peak, possibly 0.0, for every slot.
    profile.echoSlotsUsed |= layout.rawPresent && !layout.rawPerEcho ? 0x0F : layout.echoMask;
    profile.rawUsed = profile.rawUsed || layout.rawPresent;
    for (int c = 0; c < kMaxProfileColumns && offset < loopEnd; ++c) {
        if (wholeColumns && (offset > readEnd || readEnd - offset < columnBytes))
            break;
        profile.columnCount = c + 1;
        ProfileColumn& column = profile.columns[c];
        for (int j = 0; j < kMaxEchoes; ++j) {
            if (!(layout.echoMask & (1u << j)))
                continue;
            offset = decodeEcho(in, offset, layout, column.echoes[j]);
            if (layout.rawPresent && layout.rawPerEcho) {
                uint8_t packed[kPackedSampleBytes];
                in.copy(offset, packed, sizeof packed);
                UnpackRawSamples(packed, column.raw[j].samples);
                column.raw[j].valid = true;
                fitPeak(column, j);
                offset += layout.rawBytes;
            }
        }
        if (layout.rawPresent && !layout.rawPerEcho) {
            uint8_t interleaved[4 * kPackedSampleBytes];
            in.copy(offset, interleaved, sizeof interleaved);
            for (int j = 0; j < kMaxEchoes; ++j) {
                uint8_t packed[kPackedSampleBytes];
                for (int k = 0; k < kPackedSampleBytes; ++k)
                    packed[k] = interleaved[4 * k + j];
                UnpackRawSamples(packed, column.raw[j].samples);
                column.raw[j].valid = true;
                fitPeak(column, j);
            }
            offset += 4 * layout.rawBytes;
        }
    }
}

}  // namespace quillan
