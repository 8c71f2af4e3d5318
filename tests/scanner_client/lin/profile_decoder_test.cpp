#include "lin/legacy_profile.h"
#include "lin/profile_container.h"

#include "profile_golden.h"

#include <gtest/gtest.h>

#include <memory>
#include <span>

namespace {

using namespace quillan;
using namespace profiletest;

std::unique_ptr<DecodedProfile> newProfile()
{
    return std::make_unique<DecodedProfile>();
}

// Every listed echo is decoded with its values, and no other echo is valid.
void expectEchoes(const DecodedProfile& p, std::span<const GoldenEcho> echoes, int columns, bool checkMm)
{
    ASSERT_EQ(p.columnCount, columns);
    int valid = 0;
    for (int c = 0; c < columns; ++c)
        for (const EchoPoint& e : p.columns[c].echoes)
            valid += e.valid;
    EXPECT_EQ(valid, static_cast<int>(echoes.size()));
    for (const GoldenEcho& g : echoes) {
        const EchoPoint& e = p.columns[g.column].echoes[g.echo];
        SCOPED_TRACE(testing::Message() << "column " << g.column << " echo " << g.echo);
        EXPECT_TRUE(e.valid);
        EXPECT_EQ(e.zRaw, g.zRaw);
        EXPECT_EQ(e.strength, g.strength);
        EXPECT_EQ(e.width, g.width);
        EXPECT_EQ(e.reserved, g.reserved);
        EXPECT_NEAR(e.peak, g.peak, 1e-3);
        if (checkMm) {
            EXPECT_NEAR(e.xMm, g.xMm, 1e-9);
            EXPECT_NEAR(e.zMm, g.zMm, 1e-9);
        }
    }
}

struct LegacyCase {
    const char* name;
    const char* hex;
    std::span<const GoldenEcho> echoes;
    int columns;
    int echoCount;
    bool rawPerEcho;
    bool hasStrength, hasReserved;
};

TEST(LegacyProfile, PointLayouts)
{
    const LegacyCase cases[] = {
        {"mask 0x01, all fields", kLegacyBasicHex, kLegacyBasicEchoes, 3, 1, false, true, true},
        {"mask 0x02, Z and width", kLegacySecondEchoHex, kLegacySecondEchoEchoes, 4, 1, false, false, false},
        {"rawPerEcho, mask 0x1F", kLegacyRawPerEchoHex, kLegacyRawPerEchoEchoes, 2, 4, true, true, true},
        {"interleaved samples", kLegacyInterleavedHex, kLegacyInterleavedEchoes, 2, 1, false, true, true},
    };
    auto p = newProfile();
    for (const LegacyCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes frame = fromHex(c.hex);
        DecodeLegacyProfile(frame.data(), frame.size(), *p);
        EXPECT_TRUE(p->decoded);
        EXPECT_FALSE(p->linearizedLayout);
        EXPECT_EQ(p->maxColumns, 2048);
        EXPECT_EQ(p->echoCount, c.echoCount);
        EXPECT_EQ(p->rawPerEcho, c.rawPerEcho);
        EXPECT_TRUE(p->hasZ);
        EXPECT_FALSE(p->hasX);
        EXPECT_EQ(p->hasStrength, c.hasStrength);
        EXPECT_TRUE(p->hasWidth);
        EXPECT_EQ(p->hasReserved, c.hasReserved);
        expectEchoes(*p, c.echoes, c.columns, false);
        for (const GoldenEcho& g : c.echoes)
            EXPECT_EQ(p->columns[g.column].echoes[g.echo].zPixel, g.zRaw / 32.0);
    }
}

TEST(LegacyProfile, RawSamplesArePerEchoOrInterleaved)
{
    auto p = newProfile();
    Bytes frame = fromHex(kLegacyRawPerEchoHex);
    DecodeLegacyProfile(frame.data(), frame.size(), *p);
    for (int c = 0; c < 2; ++c)
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(p->columns[c].raw[j].valid, j < 2) << c << "," << j;
    EXPECT_EQ(p->columns[0].raw[0].samples[3], 700);

    frame = fromHex(kLegacyInterleavedHex);
    DecodeLegacyProfile(frame.data(), frame.size(), *p);
    for (int c = 0; c < 2; ++c)
        for (int j = 0; j < 4; ++j) {
            EXPECT_TRUE(p->columns[c].raw[j].valid);
            for (int k = 0; k < 8; ++k)
                EXPECT_EQ(p->columns[c].raw[j].samples[k], kLegacyInterleavedSamples[c][j][k]) << c << j << k;
            if (j > 0) {
                EXPECT_EQ(p->columns[c].echoes[j].peak, 0.0);
            }
        }
}

TEST(LegacyProfile, HeaderValuesAndRoiClamps)
{
    auto p = newProfile();
    const Bytes frame = fromHex(kLegacyBasicHex);
    DecodeLegacyProfile(frame.data(), frame.size(), *p);
    EXPECT_EQ(p->pictureCounter, 513u);
    EXPECT_EQ(p->encoder, 0xA1B2C3D4u);
    EXPECT_EQ(p->headerWord23, 0x1234);
    EXPECT_EQ(p->headerWord190, 0xBEEF);
    EXPECT_EQ(p->trailerValue, 0xCAFEBABEu);
    const uint8_t status[4] = {0x33, 0x22, 0x44, 0x11};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(p->statusBytes[i], status[i]) << i;
    EXPECT_EQ(p->ioBits, 0);
    // Received width 4000, offset 10, step 2047; height 0, offset 3000, step 1.
    EXPECT_EQ(p->widthX, 2048);
    EXPECT_EQ(p->effWidthX, 2048);
    EXPECT_EQ(p->offsetX, 10);
    EXPECT_EQ(p->effOffsetX, 10);
    EXPECT_EQ(p->stepX, 2047);
    EXPECT_EQ(p->effStepX, 0);
    EXPECT_EQ(p->heightZ, 2048);
    EXPECT_EQ(p->effHeightZ, 2048);
    EXPECT_EQ(p->offsetZ, 3000);
    EXPECT_EQ(p->effOffsetZ, 0);
    EXPECT_EQ(p->effStepZ, 1);
}

TEST(LegacyProfile, ShortFramesDecodeWithoutColumns)
{
    auto p = newProfile();
    const Bytes full = fromHex(kLegacyBasicHex);
    DecodeLegacyProfile(full.data(), full.size(), *p);
    ASSERT_EQ(p->columnCount, 3);
    for (size_t len : {size_t{384}, size_t{300}, size_t{40}, size_t{0}}) {
        DecodeLegacyProfile(full.data(), len, *p);
        EXPECT_TRUE(p->decoded);
        EXPECT_EQ(p->columnCount, 0) << len;
        EXPECT_FALSE(p->columns[0].echoes[0].valid) << len;
    }
}

TEST(RoiRules, Clamps)
{
    const struct { uint16_t offset, size, step; int width, effWidth, effOffset, effStep, height; } cases[] = {
        {0, 0, 0, 0, 1, 0, 0, 2048},
        {2047, 2047, 2046, 2047, 2047, 2047, 2046, 2047},
        {2048, 2048, 2047, 2048, 2048, 0, 0, 2048},
        {65535, 4000, 65535, 2048, 2048, 0, 0, 2048},
        {5, 1, 1, 1, 1, 5, 1, 1},
    };
    for (const auto& c : cases) {
        ProfileHeader h;
        SetProfileRoi(h, c.offset, c.size, c.step, c.offset, c.size, c.step);
        EXPECT_EQ(h.widthX, c.width);
        EXPECT_EQ(h.effWidthX, c.effWidth);
        EXPECT_EQ(h.effOffsetX, c.effOffset);
        EXPECT_EQ(h.effStepX, c.effStep);
        EXPECT_EQ(h.heightZ, c.height);
        EXPECT_EQ(h.effHeightZ, c.height);
        EXPECT_EQ(h.effOffsetZ, c.effOffset);
        EXPECT_EQ(h.effStepZ, c.effStep);
        EXPECT_EQ(h.offsetX, c.offset);
        EXPECT_EQ(h.stepZ, c.step);
    }
}

TEST(ProfileContainer, PixelLayoutAndHeaderBlocks)
{
    ProfileContainerDecoder decoder;
    auto p = newProfile();
    const Bytes c = fromHex(kPixelContainerHex);
    const ContainerDecodeResult r = decoder.decode(c.data(), c.size(), false, *p);
    EXPECT_FALSE(r.isImage);
    ASSERT_TRUE(p->decoded);
    EXPECT_FALSE(p->linearizedLayout);
    EXPECT_EQ(p->pictureCounter, 4242u);
    EXPECT_EQ(p->encoder, 0x11111111u);  // user I/O lines 1 and 2 on function 5: HTL
    // +30 = 0x22 (bits 1, 5), +31 = 0x20 (bit 5), +34 low nibble 0xA.
    EXPECT_EQ(p->ioBits, 0xAB);
    EXPECT_EQ(p->headerWord23, 0x5A5A);
    const uint8_t status[4] = {41, 0xB3, 0xB5, 0xB4};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(p->statusBytes[i], status[i]) << i;
    EXPECT_EQ(p->offsetX, 100);
    EXPECT_EQ(p->widthX, 4);
    EXPECT_EQ(p->stepX, 1);
    EXPECT_EQ(p->offsetZ, 50);
    EXPECT_EQ(p->heightZ, 600);
    EXPECT_EQ(p->stepZ, 0);
    EXPECT_EQ(p->echoCount, 1);
    EXPECT_TRUE(p->hasZ && p->hasStrength && p->hasWidth && p->hasReserved);
    EXPECT_FALSE(p->hasX);
    expectEchoes(*p, kPixelContainerEchoes, 4, false);
}

TEST(ProfileContainer, LinearizedLayoutWithScaleAndByteOrder)
{
    const struct { const char* name; const char* hex; bool byteOrder; } cases[] = {
        {"strength << 6 | width", kLinearizedContainerHex, false},
        {"byte-order rule", kLinearizedSwappedHex, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProfileContainerDecoder decoder;
        auto p = newProfile();
        const Bytes bytes = fromHex(c.hex);
        decoder.decode(bytes.data(), bytes.size(), c.byteOrder, *p);
        ASSERT_TRUE(p->decoded);
        EXPECT_TRUE(p->linearizedLayout);
        EXPECT_EQ(p->encoder, 0x44444444u);  // TTL/RS422
        EXPECT_EQ(p->pictureCounter, 7u);
        EXPECT_TRUE(p->hasX && p->hasZ && p->hasStrength && p->hasWidth);
        EXPECT_FALSE(p->hasReserved);
        EXPECT_EQ(p->echoCount, 1);
        expectEchoes(*p, kLinearizedEchoes, 5, true);
        for (const GoldenEcho& g : kLinearizedEchoes)
            EXPECT_EQ(p->columns[g.column].echoes[0].zPixel, g.zRaw);

        // The other packing rule gives other values.
        decoder.decode(bytes.data(), bytes.size(), !c.byteOrder, *p);
        EXPECT_NE(p->columns[1].echoes[0].strength, kLinearizedEchoes[1].strength);
    }
}

TEST(ProfileContainer, KeptBlocksServeLaterContainers)
{
    ProfileContainerDecoder decoder;
    auto p = newProfile();
    const Bytes lin = fromHex(kLinearizedContainerHex);
    const Bytes pixel = fromHex(kPixelContainerHex);
    const Bytes linNoScale = containerOf(without(blocksOf(lin), kTagProfileScale));
    const Bytes pixelBare = containerOf(without(without(blocksOf(pixel), kTagFpgaRegistersB), kTagRoiX));

    // Without any scale block the raw values are the millimetres.
    decoder.decode(linNoScale.data(), linNoScale.size(), false, *p);
    EXPECT_EQ(p->columns[2].echoes[0].zMm, kLinearizedEchoes[2].zRaw);
    EXPECT_EQ(p->columns[2].echoes[0].xMm, 3000.0);

    // A scale block once received goes on scaling.
    decoder.decode(lin.data(), lin.size(), false, *p);
    decoder.decode(linNoScale.data(), linNoScale.size(), false, *p);
    EXPECT_NEAR(p->columns[2].echoes[0].zMm, kLinearizedEchoes[2].zMm, 1e-9);

    // The encoder source and ROI X of the last blocks received.
    decoder.decode(pixel.data(), pixel.size(), false, *p);
    decoder.decode(pixelBare.data(), pixelBare.size(), false, *p);
    EXPECT_EQ(p->encoder, 0x11111111u);
    EXPECT_EQ(p->offsetX, 100);

    // A reconnection forgets them.
    decoder.reset();
    decoder.decode(pixelBare.data(), pixelBare.size(), false, *p);
    EXPECT_TRUE(p->decoded);
    EXPECT_EQ(p->encoder, 0u);
    EXPECT_EQ(p->offsetX, 0);
    EXPECT_EQ(p->effWidthX, 1);
    EXPECT_EQ(p->pictureCounter, 4242u);
}

TEST(ProfileContainer, KtraRegisterBlockWinsForTheEncoder)
{
    const Bytes pixel = fromHex(kPixelContainerHex);
    auto blocks = blocksOf(pixel);
    // Add a KTRA register block whose I/O lines do not select HTL.
    RawBlock a{kTagFpgaRegistersA, Bytes(160)};
    setLe32(a.bytes, 0, kTagFpgaRegistersA);
    setLe32(a.bytes, 4, 160);
    blocks.insert(blocks.begin(), a);
    const Bytes c = containerOf(blocks);
    ProfileContainerDecoder decoder;
    auto p = newProfile();
    decoder.decode(c.data(), c.size(), false, *p);
    ASSERT_TRUE(p->decoded);
    EXPECT_EQ(p->encoder, 0x22222222u);
}

Bytes edited(const char* hex, size_t at, uint32_t value)
{
    Bytes b = fromHex(hex);
    setLe32(b, at, value);
    return b;
}

TEST(ProfileContainer, MalformedContainersDecodeNothing)
{
    const Bytes good = fromHex(kPixelContainerHex);
    const size_t secondBlock = 8 + 52;  // after the 52-byte general block
    const Bytes truncated(good.begin(), good.end() - 1);
    Bytes grown = good;
    grown.resize(good.size() + 4);
    setLe32(grown, 4, static_cast<uint32_t>(good.size() + 4));

    const struct { const char* name; Bytes bytes; bool decoded; } cases[] = {
        {"good", good, true},
        {"total length 0 ends at the end block", edited(kPixelContainerHex, 4, 0), true},
        {"wrong magic", edited(kPixelContainerHex, 0, 0x021A0100), false},
        {"15 bytes", Bytes(good.begin(), good.begin() + 15), false},
        {"total above 0x802000", edited(kPixelContainerHex, 4, 0x802001), false},
        {"block length 0", edited(kPixelContainerHex, secondBlock + 4, 0), false},
        {"block length 4", edited(kPixelContainerHex, secondBlock + 4, 4), false},
        {"unknown tag", edited(kPixelContainerHex, secondBlock, 0x021A0103), false},
        {"block past the bytes", truncated, false},
        {"total beyond the blocks", edited(kPixelContainerHex, 4, static_cast<uint32_t>(good.size() + 8)), false},
        {"stray bytes before the total", grown, false},
    };
    ProfileContainerDecoder decoder;
    auto p = newProfile();
    for (const auto& c : cases) {
        // Start from a decoded profile: a rejected container must not leave it.
        decoder.decode(good.data(), good.size(), false, *p);
        decoder.decode(c.bytes.data(), c.bytes.size(), false, *p);
        EXPECT_EQ(p->decoded, c.decoded) << c.name;
        EXPECT_EQ(p->columnCount, c.decoded ? 4 : 0) << c.name;
    }
}

TEST(ProfileContainer, ImageContainer)
{
    const Bytes pixel = fromHex(kPixelContainerHex);
    auto blocks = without(blocksOf(pixel), kTagPixelProfile);
    RawBlock image{kTagImage, Bytes(16 + 32, 0x5C)};
    setLe32(image.bytes, 0, kTagImage);
    setLe32(image.bytes, 4, 48);
    blocks.insert(blocks.end() - 1, image);
    const Bytes c = containerOf(blocks);
    ProfileContainerDecoder decoder;
    auto p = newProfile();
    const ContainerDecodeResult r = decoder.decode(c.data(), c.size(), false, *p);
    EXPECT_TRUE(r.isImage);
    EXPECT_FALSE(p->decoded);
    ASSERT_EQ(r.imageBlockLength, 48u);
    EXPECT_EQ(le32(&c[r.imageBlockOffset]), kTagImage);

    // A status-only container is neither.
    const Bytes status = containerOf(without(blocksOf(pixel), kTagPixelProfile));
    const ContainerDecodeResult s = decoder.decode(status.data(), status.size(), false, *p);
    EXPECT_FALSE(s.isImage);
    EXPECT_FALSE(p->decoded);
}

size_t blockOffset(const Bytes& c, uint32_t tag)
{
    for (size_t at = 8; at + 8 <= c.size(); at += le32(&c[at + 4]))
        if (le32(&c[at]) == tag)
            return at;
    return 0;
}

TEST(ProfileContainer, PixelColumnsStayInsideTheirBlock)
{
    // Field sizes of 255 bits (31 bytes each): 124 bytes per column, but the
    // block holds 24 bytes of data. Nothing is decoded and nothing read past.
    Bytes c = fromHex(kPixelContainerHex);
    const size_t at = blockOffset(c, kTagPixelProfile);
    ASSERT_NE(at, 0u);
    for (size_t f = 13; f <= 16; ++f)
        c[at + f] = 255;
    ProfileContainerDecoder decoder;
    auto p = newProfile();
    decoder.decode(c.data(), c.size(), false, *p);
    EXPECT_TRUE(p->decoded);
    EXPECT_EQ(p->columnCount, 0);

    // Z of 16 bits only (content 1): 2 bytes per column, 12 columns in 24 bytes.
    c = fromHex(kPixelContainerHex);
    c[at + 12] = 0x01;
    decoder.decode(c.data(), c.size(), false, *p);
    EXPECT_EQ(p->columnCount, 12);
    EXPECT_EQ(p->columns[1].echoes[0].zRaw, kPixelContainerEchoes[0].strength >> 2 | 5 << 8);
}

TEST(ProfileContainer, LinearizedCountsAreBoundedByTheBlock)
{
    const Bytes good = fromHex(kLinearizedContainerHex);
    const size_t at = blockOffset(good, kTagLinearizedProfile);
    ASSERT_NE(at, 0u);
    const struct { const char* name; size_t field; uint32_t value; int columns; } cases[] = {
        {"many columns", 16, 100000, 5},
        {"data length beyond the block", 52, 0xFFFFFFF0u, 5},
        {"data length of 2 elements", 52, 8 + 2 * 6, 2},
        {"data length below 8", 52, 3, 0},
    };
    for (const auto& c : cases) {
        Bytes b = good;
        setLe32(b, at + c.field, c.value);
        ProfileContainerDecoder decoder;
        auto p = newProfile();
        decoder.decode(b.data(), b.size(), false, *p);
        EXPECT_TRUE(p->decoded) << c.name;
        EXPECT_EQ(p->columnCount, c.columns) << c.name;
    }

    // Two echoes per column: echo j of column i is element 2i + j.
    Bytes b = good;
    b[at + 20] = 2;
    ProfileContainerDecoder decoder;
    auto p = newProfile();
    decoder.decode(b.data(), b.size(), false, *p);
    ASSERT_EQ(p->columnCount, 3);
    EXPECT_EQ(p->echoCount, 2);
    EXPECT_EQ(p->columns[1].echoes[1].zRaw, kLinearizedEchoes[3].zRaw);
    EXPECT_TRUE(p->columns[2].echoes[0].valid);
    EXPECT_FALSE(p->columns[2].echoes[1].valid);
}

}  // namespace

namespace {

bool sameEcho(const EchoPoint& a, const EchoPoint& b)
{
    return a.valid == b.valid && a.zRaw == b.zRaw && a.zPixel == b.zPixel && a.peak == b.peak &&
           a.strength == b.strength && a.width == b.width && a.reserved == b.reserved && a.xMm == b.xMm &&
           a.zMm == b.zMm;
}

bool sameRaw(const RawSamples& a, const RawSamples& b)
{
    return a.valid == b.valid && std::equal(a.samples, a.samples + 8, b.samples);
}

// A reused record holds nothing of earlier profiles: every column equals that
// of a fresh record given the same frame.
TEST(DecodedProfileReuse, NothingStaleAfterAnyFrameSequence)
{
    const char* frames[] = {kLinearizedContainerHex, kLegacyInterleavedHex, kLegacyRawPerEchoHex,
                            kPixelContainerHex,      kLegacySecondEchoHex,  kLegacyBasicHex,
                            kLinearizedSwappedHex};
    auto reused = newProfile();
    ProfileContainerDecoder reusedDecoder;
    auto decode = [](ProfileContainerDecoder& d, const Bytes& f, DecodedProfile& p) {
        if (f[0] == 0xFF)
            d.decode(f.data(), f.size(), false, p);
        else
            DecodeLegacyProfile(f.data(), f.size(), p);
    };
    for (const char* first : frames)
        for (const char* second : frames) {
            const Bytes a = fromHex(first), b = fromHex(second);
            decode(reusedDecoder, a, *reused);
            decode(reusedDecoder, b, *reused);
            ProfileContainerDecoder freshDecoder;
            auto fresh = newProfile();
            decode(freshDecoder, b, *fresh);
            ASSERT_EQ(reused->columnCount, fresh->columnCount);
            for (int c = 0; c < kMaxProfileColumns; ++c)
                for (int j = 0; j < kMaxEchoes; ++j) {
                    ASSERT_TRUE(sameEcho(reused->columns[c].echoes[j], fresh->columns[c].echoes[j])) << c << j;
                    ASSERT_TRUE(sameRaw(reused->columns[c].raw[j], fresh->columns[c].raw[j])) << c << j;
                }
        }
}

}  // namespace
