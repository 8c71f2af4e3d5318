#include "scanner_sim/status_blocks.h"

#include "scanner_sim/byte_buffer.h"

namespace scanner_sim {
namespace {

// Block bodies are built with their 8 header bytes so that offsets read as in the layout.
std::string blockFrame(size_t length) { return std::string(length, '\0'); }
Block finish(uint32_t tag, const std::string& full) { return Block{tag, full.substr(8)}; }

unsigned bit(int value, int shift) { return (value != 0 ? 1u : 0u) << shift; }

Block general(const StatusFields& f)
{
    std::string b = blockFrame(52);
    put16(b, 8, f.pictureCounter);
    put32(b, 10, f.timeStamp);
    put32(b, 14, f.encoderHtl);
    put32(b, 22, f.encoderTtl);
    put8(b, 30, bit(f.ioState & 1, 1) | bit(f.ioState & 2, 5));
    put8(b, 31, bit(f.ioState & 4, 1) | bit(f.ioState & 8, 5));
    put8(b, 34, f.ioHigh & 0x0F);
    put32(b, 43, f.userIoCounter);
    put32(b, 47, f.exposureTime & 0xFFFFFF);
    return finish(kGeneralTag, b);
}

Block statistics(const StatusFields& f)
{
    std::string b = blockFrame(60);
    put16(b, 8, f.headerWord23);
    put32(b, 12, f.cpuFifo);
    put32(b, 16, f.fpgaFifo);
    put8(b, 32, f.temperature);
    for (size_t i = 0; i < f.statusBytes.size(); ++i)
        put8(b, 33 + i, f.statusBytes[i]);
    put16(b, 46, f.ethernetBandwidth);
    put16(b, 48, f.dmaBandwidth);
    put16(b, 53, f.statisticUserData);
    return finish(kStatisticsTag, b);
}

Block roi(uint32_t tag, uint16_t offset, uint16_t size, uint16_t step)
{
    std::string b = blockFrame(16);
    put16(b, 10, offset);
    put16(b, 12, size);
    put16(b, 14, step);
    return finish(tag, b);
}

// The trigger byte holds the source in bits 0-6, or in the amount mode bit 3 set and the amount in
// bits 0-6. The amount therefore always reads with bit 3 set.
uint8_t triggerByte(const StatusFields& f)
{
    const unsigned low = f.triggerSource < 0 ? ((static_cast<unsigned>(f.triggerAmountProfilesY) & 0x7F) | 0x08)
                                              : (static_cast<unsigned>(f.triggerSource) & 0x7F);
    return static_cast<uint8_t>(low | bit(f.cameraRunning, 7));
}

Block fpga(const StatusFields& f)
{
    std::string b = blockFrame(160);
    put8(b, 8, bit(f.laserActive, 6));
    put8(b, 9, triggerByte(f));
    put24(b, 10, f.lineTime);
    put24(b, 13, f.triggerDelay);
    put24(b, 22, f.syncOutDelay);
    put24(b, 25, f.syncOut);
    put8(b, 29, f.signalEnable);
    put8(b, 31, bit(f.contentZ, 0) | bit(f.contentStrength, 1) | bit(f.contentWidth, 2) | bit(f.contentReserved, 3));
    put16(b, 36, f.triggerEncoderStep);
    put8(b, 47, f.signalSelection);
    put8(b, 48, f.signalWidthMin);
    put8(b, 49, f.signalWidthMax);
    put16(b, 52, f.amountProfilesY);
    put16(b, 67, f.signalStrengthMin);
    // Functions 0-2 go with bit 2 of +71 set; 3 and 4 are sent as 0 and 1 without it.
    const bool variant = f.encoderTriggerFunction >= 0 && f.encoderTriggerFunction <= 2;
    put8(b, 71, bit(f.countDirection & 1, 0) | bit(variant, 2));
    put8(b, 72, static_cast<unsigned>(variant ? f.encoderTriggerFunction : f.encoderTriggerFunction - 3));
    for (size_t n = 0; n < f.userIo.size(); ++n) {
        const UserIoLine& l = f.userIo[n];
        const size_t at = 136 + 6 * n;
        put8(b, at, static_cast<unsigned>(l.function));
        put8(b, at + 1, bit(l.functionLaserOff, 0) | bit(l.functionProfileEnable, 1) | bit(l.functionResetCounter, 2));
        put8(b, at + 2, (static_cast<unsigned>(l.output) & 0x7F) | bit(l.outputFunction, 7));
        put8(b, at + 3, bit(l.inputFunction, 1) | bit(l.inputLoad, 2));
        put8(b, at + 4, bit(l.resetCounterBaseTimeCounter, 0) | bit(l.resetCounterPictureCounter, 1) |
                            bit(l.resetCounterEncoderHtl, 2) | bit(l.resetCounterEncoderTtl, 3));
        put8(b, at + 5, (static_cast<unsigned>(l.resetCounterRepeat) & 3) |
                            ((static_cast<unsigned>(l.resetCounterSignaledge) & 3) << 2));
    }
    return finish(f.seriesB ? kFpgaTagSeriesB : kFpgaTagSeriesA, b);
}

}  // namespace

std::vector<Block> statusBlocks(const StatusFields& f)
{
    return {general(f), statistics(f), roi(kRoiXTag, f.roiOffsetX, f.roiWidthX, f.roiStepX),
            roi(kRoiZTag, f.roiOffsetZ, f.roiHeightZ, f.roiStepZ), fpga(f)};
}

std::string statusOnlyContainer(const StatusFields& fields) { return buildContainer(statusBlocks(fields)); }

}  // namespace scanner_sim
