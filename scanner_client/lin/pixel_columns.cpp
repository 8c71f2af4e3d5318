#include "lin/pixel_columns.h"

#include "lin/raw_samples.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace quillan {
namespace {

class BoundedBytes {
public:
    BoundedBytes(const uint8_t* data, size_t end) : m_Data(data), m_End(end) {}
    uint8_t at(size_t pos) const { return pos < m_End ? m_Data[pos] : 0; }
    void copy(size_t pos, uint8_t* out, size_t n) const
    {
        for (size_t i = 0; i < n; ++i)
            out[i] = at(pos + i);
    }

private:
    const uint8_t* m_Data;
    size_t m_End;
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

// Every present field at least as wide as what decodeEcho reads of it.
bool fieldsCoverReads(const PixelColumnLayout& l)
{
    return (!l.hasZ || l.zBytes >= 2) && (!l.hasStrength || l.strengthBytes >= 1) &&
           (!l.hasWidth || l.widthBytes >= 1) && (!l.hasReserved || l.reservedBytes >= 2);
}

// The number of columns DecodePixelColumns decodes when they hold no raw
// samples, their fields cover the reads and they all end at or before
// readEnd, so that no read needs a bound; else 0.
int uncheckedColumns(size_t offset, size_t loopEnd, size_t readEnd, bool wholeColumns, const PixelColumnLayout& l,
                     size_t columnBytes)
{
    if (l.rawPresent || columnBytes == 0 || !fieldsCoverReads(l) || offset >= loopEnd || offset > readEnd)
        return 0;
    // Columns starting below loopEnd, and with wholeColumns those ending at or before readEnd.
    size_t columns = (loopEnd - offset + columnBytes - 1) / columnBytes;
    if (wholeColumns)
        columns = std::min(columns, (readEnd - offset) / columnBytes);
    columns = std::min<size_t>(columns, kMaxProfileColumns);
    if (columns == 0 || (readEnd - offset) / columnBytes < columns)
        return 0;
    return static_cast<int>(columns);
}

// Where the fields of an echo lie, from the echo's first byte.
struct EchoFields {
    size_t strengthAt, widthAt, reservedAt, bytes;
};

// decodeEcho for echo slot j of `columns` whole columns, the first echo at
// `at`, each echo written whole over whatever the slot held. The present
// fields are template arguments, so that the loop holds no test of them.
template <bool Z, bool S, bool W, bool R>
void decodeSlot(const uint8_t* at, size_t columnBytes, const EchoFields& f, int j, int columns,
                DecodedProfile& profile)
{
    for (int c = 0; c < columns; ++c, at += columnBytes) {
        EchoPoint e{};
        e.valid = true;
        if constexpr (Z) {
            e.zRaw = at[0] + 256 * at[1];
            e.zPixel = e.zRaw * 0.03125;
        }
        if constexpr (S)
            e.strength = at[f.strengthAt] * 4;
        if constexpr (W) {
            const uint8_t b = at[f.widthAt];
            e.strength += b >> 6;
            e.width = b & 0x3F;
        }
        if constexpr (R)
            e.reserved = at[f.reservedAt] + 8 * at[f.reservedAt + 1];
        profile.columns[c].echoes[j] = e;
    }
}

using SlotDecoder = void (*)(const uint8_t*, size_t, const EchoFields&, int, int, DecodedProfile&);

template <size_t... I>
constexpr std::array<SlotDecoder, sizeof...(I)> slotDecoders(std::index_sequence<I...>)
{
    return {&decodeSlot<(I & 1) != 0, (I & 2) != 0, (I & 4) != 0, (I & 8) != 0>...};
}

// Indexed by the present fields: bit 0 Z, 1 strength, 2 width, 3 reserved.
constexpr auto kSlotDecoders = slotDecoders(std::make_index_sequence<16>{});

void decodeEchoesUnchecked(const uint8_t* at, int columns, size_t columnBytes, const PixelColumnLayout& l,
                           DecodedProfile& profile)
{
    profile.columnCount = columns;
    profile.echoSlotsUsed = l.echoMask;
    EchoFields f{};
    f.strengthAt = l.hasZ ? l.zBytes : 0;
    f.widthAt = f.strengthAt + (l.hasStrength ? l.strengthBytes : 0);
    f.reservedAt = f.widthAt + (l.hasWidth ? l.widthBytes : 0);
    f.bytes = f.reservedAt + (l.hasReserved ? l.reservedBytes : 0);
    const SlotDecoder decode = kSlotDecoders[(l.hasZ ? 1 : 0) | (l.hasStrength ? 2 : 0) | (l.hasWidth ? 4 : 0) |
                                             (l.hasReserved ? 8 : 0)];
    // The echoes of a column follow each other in slot order.
    for (int j = 0; j < kMaxEchoes; ++j) {
        if (!(l.echoMask & (1u << j)))
            continue;
        decode(at, columnBytes, f, j, columns, profile);
        at += f.bytes;
    }
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
    const size_t columnBytes = layout.columnBytes();
    if (const int columns = uncheckedColumns(offset, loopEnd, readEnd, wholeColumns, layout, columnBytes);
        columns > 0) {
        ClearProfileColumns(profile, columns, layout.echoMask);
        decodeEchoesUnchecked(data + offset, columns, columnBytes, layout, profile);
        return;
    }

    ClearProfileColumns(profile);
    const BoundedBytes in(data, readEnd);
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
