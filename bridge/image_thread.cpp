// The image thread: each profile of the ring becomes one line of the intensity and range parts
// and of the chunks; every m_LinesPerImage lines, or on a profile time-out, the block goes to the
// camera.
#include "bridge.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>
#include <span>
#include <string>

#include "command_builders.h"
#include "gev_camera.h"
#include "line_fill.h"
#include "platform/bytes.h"

namespace lumabridge {
namespace {

constexpr size_t kIntensityBufferBytes = 90'000'000;
constexpr size_t kRangeBufferBytes = 540'000'000;
constexpr int32_t kMaxLines = 10000;
// Picture counter, timestamp, device temperature, line status, encoder value, scanner status.
constexpr size_t kChunkKinds = 6;
constexpr uint32_t kChunkValueBytes = 4;
constexpr uint32_t kNoCounter = 0xFFFFFFFF;
// A counter step of half the 16-bit range or more is a step back (the scanner restarted).
constexpr uint16_t kCounterStepBack = 0x8000;
constexpr uint32_t kStopSettleMs = 100;
// A wait for a profile looks at the flags this often, so that a stop which signals nothing is seen.
constexpr uint64_t kProfileWaitMs = 100;
// The image thread waits for this many unread profiles (or the lines its block still needs, if
// fewer): one wake-up fills a run of lines, while the lines filled last are still in the cache.
constexpr uint32_t kWakeBatch = 16;
constexpr int32_t kSoftwareSource = 7;
constexpr int32_t kSingleFrame = 2;
constexpr size_t kIntensity = 0;
constexpr size_t kRange = 1;
constexpr const char* kPartNames[] = {"intensity", "range"};

int64_t performanceCounterNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

struct Bridge::ImageBlock {
    struct Chunk {
        bool enabled = false;
        uint32_t id = 0;
        uint32_t bytesPerValue = 0;
    };

    // Owned by the thread for its whole life.
    ImagePartBuffer parts[2];  // intensity, range
    size_t partBytes[2] = {kIntensityBufferBytes, kRangeBufferBytes};
    std::array<std::unique_ptr<uint8_t[]>, kChunkKinds> chunkValues;  // kMaxLines little-endian values each
    // Wraps of the scanner's 32-bit timestamp above the line-0 timestamp of the last block.
    uint64_t timestamp = 0;

    // Taken at the acquisition start.
    ProfileRing* ring = nullptr;
    uint32_t run = 0;
    uint32_t lines = 1;

    // Taken at the start of each block, so that the feature handlers never change what a block
    // is being built with.
    std::array<ComponentRecord, 2> components;
    std::array<Chunk, kChunkKinds> chunks;
    bool chunksOn = false;
    RangeMapping mapping;
    int32_t coordinateSource = 0;
    int32_t acquisitionMode = 0;
    TriggerSettings frameStart;

    bool Enabled(size_t part) const { return components[part].m_Enabled; }
    const PartDescriptor& Descriptor(size_t part) const { return components[part].m_Part; }
    std::span<uint8_t> Part(size_t part) { return {parts[part].get(), partBytes[part]}; }
    bool SoftwareFrameStart() const { return frameStart.m_Mode && frameStart.m_Source == kSoftwareSource; }
    int32_t Unread() const { return ring ? ring->Unread() : 0; }
    void SetChunkValue(size_t chunk, uint32_t line, uint32_t value)
    {
        platform::storeLE32(chunkValues[chunk].get() + size_t{kChunkValueBytes} * line, value);
    }
    // At line 0: a timestamp below the last block's counts one more wrap.
    void StartTimestamp(uint32_t t)
    {
        if (t < static_cast<uint32_t>(timestamp))
            timestamp += uint64_t{1} << 32;
        timestamp = (timestamp & 0xFFFFFFFF00000000ull) | t;
    }
};

void Bridge::StartImageThread()
{
    if (!m_ImageThread.joinable())
        m_ImageThread = std::jthread([this](std::stop_token stop) { ImageSenderThread(stop); });
}

void Bridge::ImageSenderThread(std::stop_token stop)
{
    m_Console.Message("Vantocam thread has started\n");
    guarded("image thread", [&] {
        ImageBlock block;
        try {
            // Not value-initialised: only the lines written are ever touched.
            block.parts[kIntensity] = ImagePartBuffer(new uint8_t[kIntensityBufferBytes]);
            block.parts[kRange] = ImagePartBuffer(new uint8_t[kRangeBufferBytes]);
            for (auto& values : block.chunkValues)
                values.reset(new uint8_t[size_t{kMaxLines} * kChunkValueBytes]);
        } catch (const std::bad_alloc&) {
            m_Console.Message("Error: no memory for the image part buffers\n");
            RequestExit();
            return;
        }
        while (!stop.stop_requested()) {
            m_AcquisitionEvent.wait();
            if (stop.stop_requested())
                break;
            runAcquisition(block, stop);
        }
    });
    m_Console.Message("Vantocam thread has ended\n");
}

void Bridge::runAcquisition(ImageBlock& block, const std::stop_token& stop)
{
    block.run = m_RunNumber;
    m_NewProfileEvent.reset();
    m_ProfileTimeout = false;
    // Profiles stored before the start are dropped.
    block.ring = m_Ring.get();
    if (block.ring)
        block.ring->Reset();
    {
        std::lock_guard lock(m_RecordMutex);
        block.lines = static_cast<uint32_t>(std::clamp(m_LinesPerImage, 1, kMaxLines));
    }
    takeBlockRecords(block);
    if (!block.SoftwareFrameStart())
        SendSetAcquisitionStart(m_Scanner, m_Handle);

    for (;;) {
        if (!blockFits(block)) {
            m_AcquisitionStopped = true;
            stopAcquisition(block.run);
            return;
        }
        m_ProfileTimeout = false;
        const uint32_t filled = fillLines(block, stop);

        if (stop.stop_requested() || m_AcquisitionStopped) {  // the partial block is dropped
            stopAcquisition(block.run);
            return;
        }
        if (m_RunNumber != block.run)  // a new start: the outer wait begins it afresh
            return;
        if (m_ProfileTimeout) {
            if (filled == 0) {
                takeBlockRecords(block);
                continue;
            }
            m_Console.Debug("Warning: Timeout. Sending image with active scans=" + std::to_string(filled) + "\n");
            for (uint32_t i = filled; i < block.lines; ++i) {
                FillZeroLine(block, i);
                for (size_t chunk = 0; chunk < kChunkKinds; ++chunk)
                    block.SetChunkValue(chunk, i, 0);
            }
        }

        sendBlock(block, stop);

        if (block.frameStart.m_Mode && m_ProfileTimeout) {
            if (block.frameStart.m_Source == kSoftwareSource)
                SendSetAcquisitionStop(m_Scanner, m_Handle);
            if (block.ring)
                block.ring->Reset();
        }
        if (m_AcquisitionStopped || block.acquisitionMode == kSingleFrame) {
            stopAcquisition(block.run);
            return;
        }
        if (m_RunNumber != block.run)
            return;
        takeBlockRecords(block);
    }
}

void Bridge::takeBlockRecords(ImageBlock& block)
{
    {
        std::lock_guard lock(m_RecordMutex);
        block.components = m_Components;
        for (size_t i = 0; i < kChunkKinds; ++i)
            block.chunks[i] = {m_Chunks[i].m_Enabled, m_Chunks[i].m_ChunkId,
                               std::min<uint32_t>(m_Chunks[i].m_BytesPerValue, kChunkValueBytes)};
        block.chunksOn = m_ChunkCount > 0;
        const Scan3dCoordinateSettings& a = m_Scan3dCoordinates[0];
        const Scan3dCoordinateSettings& b = m_Scan3dCoordinates[1];
        block.mapping.scaleA = a.scale;
        block.mapping.offsetA = a.offset;
        block.mapping.scaleB = b.scale;
        block.mapping.offsetB = b.offset;
        block.mapping.scaleC = m_Scan3dCoordinates[2].scale;
        block.coordinateSource = m_Scan3dCoordinateSource;
        block.acquisitionMode = m_AcquisitionMode;
    }
    std::lock_guard lock(m_InfoMutex);
    block.mapping.workingRangeZStart = m_Info.m_WorkingRangeZStart;
    block.mapping.measuringRangeZ = m_Info.m_MeasuringRangeZ;
    block.mapping.fieldWidthXEnd = m_Info.m_FieldWidthXEnd;
    block.frameStart = m_Info.m_Triggers[kFrameStart];
}

bool Bridge::blockFits(const ImageBlock& block)
{
    if (!block.Enabled(kIntensity) && !block.Enabled(kRange)) {
        m_Console.Message("Warning: neither component is enabled: the acquisition stops\n");
        return false;
    }
    for (size_t part : {kIntensity, kRange}) {
        const PartDescriptor& d = block.Descriptor(part);
        if (block.Enabled(part) && LineEnd(d.pixelFormatName, block.lines - 1, d.width) > block.partBytes[part]) {
            m_Console.Message(std::string("Error: the ") + kPartNames[part] + " part of " + std::to_string(d.width) +
                              " x " + std::to_string(block.lines) + " " + d.pixelFormatName + " does not fit its " +
                              std::to_string(block.partBytes[part]) + " bytes: the acquisition stops\n");
            return false;
        }
    }
    return true;
}

bool Bridge::acquisitionEnded(const ImageBlock& block, const std::stop_token& stop) const
{
    return stop.stop_requested() || m_AcquisitionStopped || m_RunNumber != block.run;
}

uint32_t Bridge::fillLines(ImageBlock& block, const std::stop_token& stop)
{
    uint32_t previous = kNoCounter;
    bool counterError = false;
    uint32_t yBase = 0;
    uint32_t i = 0;
    while (i < block.lines) {
        if (acquisitionEnded(block, stop))
            break;
        if (block.Unread() == 0 && !waitForProfile(block, block.lines - i, stop))
            break;
        ProfileRing& ring = *block.ring;
        const int32_t slot = ring.ReadIndex();
        const ProfileChunkValues values = ring.Chunk(slot);

        // A gap in the picture counter becomes empty lines, one per missing counter value, so that
        // each line keeps its place in the scan; the profile after the gap waits for its own line.
        uint32_t counter = values.m_PictureCounter;
        bool zeroLine = false;
        if (previous != kNoCounter) {
            const auto step = static_cast<uint16_t>(counter - previous);
            if (step == 1) {
                counterError = false;
            } else if (step == 0 || step >= kCounterStepBack) {
                m_Console.Debug("Picture Counter Resync. New: " + std::to_string(counter) + " Old: " +
                                std::to_string(previous) + " ReadOut:" + std::to_string(slot) +
                                " WriteIn: " + std::to_string(ring.WriteIndex()) + "\n");
                counterError = false;
            } else {
                if (!counterError)
                    m_Console.Debug("Picture Counter Error. New: " + std::to_string(counter) + " Old: " +
                                    std::to_string(previous) + " ReadOut:" + std::to_string(slot) +
                                    " WriteIn: " + std::to_string(ring.WriteIndex()) + "\n");
                counterError = true;
                zeroLine = true;
                counter = (previous + 1) & 0xFFFF;
            }
        }
        previous = counter;

        if (i == 0)
            block.StartTimestamp(values.m_Timestamp);
        const uint32_t y = block.coordinateSource != 0 ? values.m_Timestamp : values.m_Encoder;
        if (i == 0)
            yBase = y;
        FillLine(block, slot, i, zeroLine, static_cast<int32_t>(y - yBase));

        if (block.chunksOn) {
            const uint32_t chunkValues[kChunkKinds] = {counter,           values.m_Timestamp, values.m_Temperature,
                                                       values.m_IoState, values.m_Encoder,   values.m_ScannerState};
            for (size_t chunk = 0; chunk < kChunkKinds; ++chunk)
                if (block.chunks[chunk].enabled)
                    block.SetChunkValue(chunk, i, chunkValues[chunk]);
        }
        ++i;
        if (!zeroLine && ring.AdvanceRead())
            m_Console.Debug("reset flag pObj->m_ScanCnt " + std::to_string(ring.WriteIndex()) + "\n", "");
    }
    return i;
}

bool Bridge::waitForProfile(const ImageBlock& block, uint32_t linesLeft, const std::stop_token& stop)
{
    const auto batch = static_cast<int32_t>(std::clamp<uint32_t>(linesLeft, 1, kWakeBatch));
    // Stored before the reset and the look at the ring: a profile committed after that look
    // sees this count, and one committed before it is counted by the look.
    m_ProfileWakeCount.store(batch);
    for (;;) {
        m_NewProfileEvent.reset();
        if (block.Unread() >= batch)
            return true;
        const bool signalled = m_NewProfileEvent.wait(kProfileWaitMs) == platform::WaitResult::Signaled;
        if (acquisitionEnded(block, stop))
            return false;
        // Profiles short of a batch (a wake-up by a flag or the periodic look) are taken too,
        // before a profile time-out ends the block.
        if (block.Unread() > 0)
            return true;
        if (m_ProfileTimeout)
            return false;
        if (signalled && block.ring)
            m_Console.Debug("Warning: pObj->m_ReadOutCnt " + std::to_string(block.ring->ReadIndex()) +
                            " ScanCnt: " + std::to_string(block.ring->WriteIndex()) + "\n");
    }
}

void Bridge::FillLine(ImageBlock& block, int32_t slot, uint32_t line, bool zeroLine, int32_t yDelta)
{
    ProfileRing& ring = *block.ring;
    const uint32_t n = ring.PointCount(slot);
    if (block.Enabled(kIntensity)) {
        const PartDescriptor& d = block.Descriptor(kIntensity);
        FillIntensityLine(ring.Intensity(slot), block.Part(kIntensity), d.pixelFormatName, line, n, d.width, zeroLine);
    }
    if (block.Enabled(kRange)) {
        const PartDescriptor& d = block.Descriptor(kRange);
        FillRangeLine(block.Part(kRange), d.pixelFormatName, ring.Z(slot), ring.X(slot), yDelta, line, n, d.width,
                      zeroLine, block.mapping);
    }
}

void Bridge::FillZeroLine(ImageBlock& block, uint32_t line)
{
    if (block.Enabled(kIntensity)) {
        const PartDescriptor& d = block.Descriptor(kIntensity);
        FillIntensityLine(nullptr, block.Part(kIntensity), d.pixelFormatName, line, d.width, d.width, true);
    }
    if (block.Enabled(kRange)) {
        const PartDescriptor& d = block.Descriptor(kRange);
        FillRangeLine(block.Part(kRange), d.pixelFormatName, nullptr, nullptr, 0, line, d.width, d.width, true,
                      block.mapping);
    }
}

void Bridge::sendBlock(ImageBlock& block, const std::stop_token& stop)
{
    if (m_AcquisitionStopped || !m_Camera)
        return;
    m_Camera->BeginFrame(0);
    // BeginFrame waits for the client's stream: a client that has gone meanwhile, or a new
    // acquisition, does not get this block.
    if (acquisitionEnded(block, stop))
        return;
    for (size_t part : {kIntensity, kRange}) {
        if (!block.Enabled(part))
            continue;
        const PartDescriptor& d = block.Descriptor(part);
        const uint64_t bytes = PartByteCount(d.width, static_cast<uint16_t>(block.lines), d.pixelFormatName,
                                             part == kIntensity);
        m_Camera->SetImagePartData(block.parts[part], static_cast<uint32_t>(bytes), d);
    }
    if (block.chunksOn)
        SendChunks(block, block.lines);
    m_Camera->SetFrameTimestamp(block.timestamp);
    m_Camera->SendImage(m_FrameBuffer.get(), 0, block.lines);

    if (const int64_t triggered = m_SoftwareTriggerTime; triggered != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "ellapsed time %g\n",
                      static_cast<double>(performanceCounterNs() - triggered) / m_TicksPerMs);
        m_Console.Output(text);
    }
}

void Bridge::SendChunks(ImageBlock& block, uint32_t lines)
{
    for (size_t chunk = 0; chunk < kChunkKinds; ++chunk) {
        const ImageBlock::Chunk& c = block.chunks[chunk];
        if (c.enabled)
            m_Camera->AddChunkData(m_FrameBuffer.get(), block.chunkValues[chunk].get(), c.bytesPerValue * lines, c.id,
                                   0);
    }
    m_Camera->AddChunkData(m_FrameBuffer.get(), nullptr, 0, 0, 0);
}

void Bridge::stopAcquisition(uint32_t run)
{
    SendSetAcquisitionStop(m_Scanner, m_Handle);
    m_Clock.SleepMs(kStopSettleMs);
    m_AcquisitionEvent.reset();
    // An AcquisitionStart that came meanwhile is kept for the outer wait.
    if (m_RunNumber != run)
        m_AcquisitionEvent.set();
}

}  // namespace lumabridge
