#include <gtest/gtest.h>

#include "golden_frames.h"
#include "stream/status_container.h"
#include "test_frames.h"

using namespace quillan::stream;
using testframes::Bytes;

namespace {

constexpr int32_t kUntouched = 0x5A5A5A5A;

StatusRecord untouchedRecord()
{
    StatusRecord r;
    r.fill(kUntouched);
    return r;
}

StatusRecord decode(const Bytes& c, StatusRecord r = untouchedRecord())
{
    decodeStatusContainer(c.data(), c.size(), r);
    return r;
}

// Register block (0x021A0402) with the given bytes set.
Bytes registers(std::initializer_list<std::pair<size_t, uint8_t>> bytes, size_t length = 160)
{
    Bytes b = testframes::block(0x021A0402, length);
    for (auto [offset, value] : bytes)
        b.at(offset) = value;
    return b;
}

}  // namespace

TEST(StatusContainer, DecodesEveryFieldOfTheGoldenContainer)
{
    const StatusRecord r = decode(testframes::fromHex(golden::kStatusContainer));
    struct Field {
        size_t index;
        int32_t value;
    };
    std::vector<Field> expected = {
        {PictureCounter, 0xBEEF}, {TimeStamp, static_cast<int32_t>(0x89ABCDEFu)}, {EncoderHtl, 123456},
        {EncoderTtlRs422, 654321}, {IoState, 0x7}, {UserIoCounter, 777}, {ExposureTime, 0x012345},
        {CpuFifoFill, 11}, {FpgaFifoFill, 22}, {Temperature, 41}, {EthernetBandwidth, 900},
        {DmaBandwidth, 1200}, {StatisticUserData, 4242}, {RoiOffsetX, 16}, {RoiWidthX, 1024}, {RoiStepX, 1},
        {RoiOffsetZ, 32}, {RoiHeightZ, 512}, {ScannerState, 0x45}, {LaserActive, 1}, {TriggerSource, 2},
        {TriggerAmountProfilesY, -1}, {CameraRunning, 1}, {LineTime, 1000}, {TriggerDelay, 70000},
        {SyncOutDelay, 0x030201}, {SyncOut, 10000}, {SignalEnable, 3}, {ContentZ, 1}, {ContentStrength, 1},
        {ContentWidth, 0}, {ContentReserved, 1}, {TriggerEncoderStep, 8}, {SignalSelection, 2},
        {SignalWidthMin, 3}, {SignalWidthMax, 60}, {AmountProfilesY, 500}, {SignalStrengthMin, 1000},
        {EncoderCountDirection, 1}, {EncoderTriggerFunction, 1},
    };
    // Per line: Function, LaserOff, ProfileEnable, ResetCounter, InputFunction, InputLoad, Output,
    // OutputFunction, Repeat, Signaledge, BaseTimeCounter, PictureCounter, EncoderHtl, EncoderTtlRs422.
    const int32_t lines[4][kUserIoFieldCount] = {
        {5, 1, 0, 1, 1, 1, 1, 1, 2, 3, 1, 1, 1, 1},
        {4, 0, 1, 0, 1, 0, 3, 0, 1, 0, 1, 0, 0, 0},
        {1, 1, 0, 0, 0, 0, 2, 0, 0, 2, 0, 0, 1, 0},
        {2, 0, 0, 1, 0, 1, 127, 0, 3, 2, 0, 0, 0, 1},
    };
    for (size_t line = 0; line < 4; ++line)
        for (size_t f = 0; f < kUserIoFieldCount; ++f)
            expected.push_back({userIoIndex(line, static_cast<UserIoField>(f)), lines[line][f]});

    ASSERT_EQ(expected.size(), kStatusFieldCount);
    for (const Field& f : expected)
        EXPECT_EQ(r[f.index], f.value) << "field " << f.index;
}

TEST(StatusContainer, OneBlockChangesOnlyItsFields)
{
    Bytes roi = testframes::block(0x021A0201, 16);
    testframes::putLE16(roi, 10, 7);
    testframes::putLE16(roi, 12, 640);
    testframes::putLE16(roi, 14, 2);
    const StatusRecord r = decode(testframes::container({roi}));
    for (size_t i = 0; i < kStatusFieldCount; ++i) {
        const int32_t expected = i == RoiOffsetX ? 7 : i == RoiWidthX ? 640 : i == RoiStepX ? 2 : kUntouched;
        EXPECT_EQ(r[i], expected) << "field " << i;
    }
}

TEST(StatusContainer, TriggerByte)
{
    struct Case {
        uint8_t byte;
        int32_t source, amount, running;
    };
    const Case cases[] = {
        {0x03, 3, -1, 0},
        {0x8A, -1, 10, 1},
        {0x80, 0, -1, 1},
        {0x08, -1, 8, 0},
        {0x7F, -1, 0x7F, 0},
    };
    for (const Case& c : cases) {
        const StatusRecord r = decode(testframes::container({registers({{9, c.byte}})}));
        EXPECT_EQ(r[TriggerSource], c.source) << int(c.byte);
        EXPECT_EQ(r[TriggerAmountProfilesY], c.amount) << int(c.byte);
        EXPECT_EQ(r[CameraRunning], c.running) << int(c.byte);
    }
}

TEST(StatusContainer, EncoderTriggerFunction)
{
    struct Case {
        uint8_t value;
        bool variant;
        int32_t expected;
    };
    const Case cases[] = {
        {0, true, 0}, {0, false, 3}, {1, true, 1}, {1, false, 4},
        {2, true, 2}, {2, false, kUntouched}, {3, true, kUntouched}, {9, false, kUntouched},
    };
    for (const Case& c : cases) {
        const uint8_t flags = c.variant ? 0x04 : 0x01;
        const StatusRecord r = decode(testframes::container({registers({{71, flags}, {72, c.value}})}));
        EXPECT_EQ(r[EncoderTriggerFunction], c.expected) << int(c.value) << " variant " << c.variant;
    }
}

TEST(StatusContainer, FieldsOutsideTheirBlockKeepTheirValues)
{
    // A 44-byte header block: the user I/O counter (+43, 4 bytes) and exposure (+47) lie outside.
    Bytes header = testframes::block(0x021A0101, 44);
    testframes::putLE16(header, 8, 99);
    // The next block's bytes must not be read as those fields.
    Bytes filler = testframes::block(0x021A0301, 16);
    std::fill(filler.begin() + 8, filler.end(), 0xEE);
    StatusRecord r = decode(testframes::container({header, filler}));
    EXPECT_EQ(r[PictureCounter], 99);
    EXPECT_EQ(r[UserIoCounter], kUntouched);
    EXPECT_EQ(r[ExposureTime], kUntouched);

    // A register block cut after the first user I/O line byte b0.
    r = decode(testframes::container({registers({{8, 0x40}, {136, 5}}, 137)}));
    EXPECT_EQ(r[LaserActive], 1);
    EXPECT_EQ(r[userIoIndex(0, Function)], 5);
    EXPECT_EQ(r[userIoIndex(0, FunctionLaserOff)], kUntouched);
}

TEST(StatusContainer, WalkEndsAtBrokenBlocksAndStoredBytes)
{
    Bytes roiX = testframes::block(0x021A0201, 16);
    testframes::putLE16(roiX, 12, 640);
    Bytes roiZ = testframes::block(0x021A0202, 16);
    testframes::putLE16(roiZ, 12, 256);

    Bytes zeroLength = testframes::block(0x021A0102, 16);
    testframes::putLE32(zeroLength, 4, 0);
    Bytes pastTotal = testframes::block(0x021A0102, 16);
    testframes::putLE32(pastTotal, 4, 4000);

    struct Case {
        const char* name;
        Bytes bytes;
        bool roiXRead, roiZRead;
    };
    Bytes truncated = testframes::container({roiX, roiZ});
    truncated.resize(8 + 16 + 10);  // the second block lies partly beyond the stored bytes
    Bytes notContainer = testframes::container({roiX});
    notContainer[0] = 0xFE;
    const Case cases[] = {
        {"zero block length", testframes::container({roiX, zeroLength, roiZ}), true, false},
        {"block past the total length", testframes::container({roiX, pastTotal, roiZ}), true, false},
        {"total length ends before a block", testframes::containerWithTotal({roiX, roiZ}, 8 + 16 + 8), true, false},
        {"total length 0 walks the stored bytes", testframes::containerWithTotal({roiX, roiZ}, 0), true, true},
        {"block beyond the stored bytes", truncated, true, false},
        {"not a container", notContainer, false, false},
    };
    for (const Case& c : cases) {
        const StatusRecord r = decode(c.bytes);
        EXPECT_EQ(r[RoiWidthX], c.roiXRead ? 640 : kUntouched) << c.name;
        EXPECT_EQ(r[RoiHeightZ], c.roiZRead ? 256 : kUntouched) << c.name;
    }
    StatusRecord r = untouchedRecord();
    decodeStatusContainer(nullptr, 0, r);
    EXPECT_EQ(r, untouchedRecord());
}
