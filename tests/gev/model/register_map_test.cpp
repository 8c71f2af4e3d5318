#include "model/register_map.h"

#include "model/host_info.h"
#include "platform/bytes.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace Kivu;
using Bytes = std::vector<uint8_t>;

namespace {

enum Acc { R, W, RW, I };

// The default map as a GigE Vision client sees it (names as in Wireshark's gvcp dissector).
struct Row {
    uint32_t address;
    const char* name;
    Acc access;
    std::optional<uint32_t> value;  // empty: host dependent
    uint32_t stringLength = 0;      // non-zero for string registers
    const char* text = nullptr;
};

const std::vector<Row>& defaultMap()
{
    static const std::vector<Row> rows = {
        {0x0000, "specversion", R, 0x00010002},
        {0x0004, "devicemode", R, 0x80000001},
        {0x0008, "machigh", R, 0xA0000000},
        {0x000C, "maclow", R, 1},
        {0x0010, "supportedipconfig", R, 7},
        {0x0014, "currentipconfig", RW, 6},
        {0x0024, "currentip", R, 0},
        {0x0034, "currentsubnetmask", R, 0},
        {0x0044, "currentdefaultgateway", R, 0},
        {0x0048, "manufacturername", R, {}, 32, "Norvik Works"},
        {0x0068, "modelname", R, {}, 32, "Pravel"},
        {0x0088, "deviceversion", R, {}, 32, "2.5.0.0"},
        {0x00A8, "manufacturerspecificinfo", R, {}, 48, "Pravel GigE Vision 3D line profile camera"},
        {0x00D8, "serialnumber", R, {}, 16, "00000001"},
        {0x00E8, "userdefinedname", RW, {}, 16, ""},
        {0x0200, "firsturl", R, {}, 512, ""},
        {0x0400, "secondurl", R, {}, 512, ""},
        {0x0600, "numberofnetworkinterfaces", R, 1},
        {0x064C, "persistentip", RW, 0},
        {0x065C, "persistentsubnetmask", RW, 0},
        {0x066C, "persistentgateway", RW, 0},
        {0x0670, "linkspeed", R, 0},
        {0x0900, "numberofmessagechannels", R, 1},
        {0x0904, "numberofstreamchannels", R, 2},
        {0x0908, "numberofactionsignals", R, 0},
        {0x090C, "actiondevicekey", RW, 0},
        {0x092C, "sccaps", R, 0x80000000},
        {0x0930, "mccaps", R, 0x80000000},
        {0x0934, "capability", R, 0xDA20005F},
        {0x0938, "heartbeattimeout", RW, 3000},
        {0x093C, "timestamptickfrequencyhigh", R, 0},
        {0x0940, "timestamptickfrequencylow", R, 1000000000},
        {0x0944, "timestampcontrol", W, 0},
        {0x0948, "timestampvaluehigh", R, 0},
        {0x094C, "timestampvaluelow", R, 0},
        {0x095C, "controlswitchoverkey", W, 0},
        {0x0960, "gvcspconfig", R, 0},
        {0x096C, "ieee1588 status", R, 0x05000000},
        {0x0A00, "ccp", RW, 0},
        {0x0A04, "primaryapplicationport", R, 0},
        {0x0A14, "primaryapplicationipaddress", R, 0},
        {0x0B00, "mcp", RW, 0},
        {0x0B10, "mcda", RW, 0},
        {0x0B14, "mctt", RW, 3000},
        {0x0B18, "mcrc", RW, 5},
        {0x0B1C, "mcsp", R, 0},
        {0x0D00, "scp0", RW, 0},
        {0x0D04, "scps0", RW, 0x400005DC},
        {0x0D08, "scpd0", RW, 0},
        {0x0D18, "scda0", RW, 0},
        {0x0D1C, "scsp0", R, 0},
        {0x0D40, "scp1", RW, 0},
        {0x0D44, "scps1", RW, 0x400005DC},
        {0x0D48, "scpd1", RW, 0},
        {0x0D58, "scda1", RW, 0},
        {0x0D5C, "scsp1", RW, 0},
        {0xA000, "fixed word", I, 0x00020001},
        {0xA004, "host processors", I, {}},
        {0xA008, "host architecture", I, {}},
        {0xA00C, "host page size", I, {}},
        {0xA010, "host granularity", I, {}},
        {0xA014, "host OS major", I, {}},
        {0xA018, "host OS minor", I, {}},
        {0xA01C, "host OS build", I, {}},
        {0xA020, "adapter word 0", I, 0},
        {0xA024, "adapter word 1", I, 0},
        {0xA028, "adapter word 2", I, 0},
        {0xA02C, "adapter word 3", I, 0},
        {0xA030, "adapter word 4", I, 0},
        {0xA040, "request source IP", I, 0},
        {0xA044, "request source port", I, 0},
        {0xA04C, "acquisition start request", I, 0},
        {0xA050, "acquisition stop request", I, 0},
    };
    return rows;
}

Bytes expectedString(const Row& row)
{
    Bytes b(row.stringLength, 0);
    std::memcpy(b.data(), row.text, std::strlen(row.text));
    return b;
}

class DefaultMap : public ::testing::Test {
protected:
    std::shared_ptr<RegTree> tree = std::make_shared<RegTree>(kRegTreeBase, kRegTreeSize);
    RegisterMap map{tree};
};

}  // namespace

TEST_F(DefaultMap, EveryRegisterReadsAndRefusesAsAClientSeesIt)
{
    for (const Row& row : defaultMap()) {
        SCOPED_TRACE(::testing::Message() << std::hex << row.address << " " << row.name);
        const bool readable = row.access == R || row.access == RW;
        const bool writable = row.access == W || row.access == RW;
        if (row.stringLength != 0) {
            Bytes buf(row.stringLength, 0xEE);
            EXPECT_EQ(tree->ReadMemory(row.address, buf.data(), row.stringLength, Origin::Remote), 0u);
            EXPECT_EQ(buf, expectedString(row));
            EXPECT_EQ(tree->WriteMemory(row.address, buf.data(), row.stringLength, Origin::Remote),
                      writable ? 0u : 0x8006u);
            continue;
        }
        uint32_t status = 0xDEAD;
        const uint32_t raw = tree->ReadRegister(row.address, &status, Origin::Remote);
        EXPECT_EQ(status, readable ? 0u : 0x8006u);
        uint8_t bytes[4];
        std::memcpy(bytes, &raw, 4);
        const uint32_t local = tree->ReadRegister(row.address, &status, Origin::Local);
        EXPECT_EQ(status, 0u) << "local reads ignore the access bits";
        uint8_t localBytes[4];
        std::memcpy(localBytes, &local, 4);
        if (row.value) {
            EXPECT_EQ(platform::loadBE32(localBytes), *row.value);
            if (readable) {
                EXPECT_EQ(platform::loadBE32(bytes), *row.value);
            }
        }
        // Write the value back: no state changes, only the status counts.
        EXPECT_EQ(tree->WriteRegister(row.address, local, Origin::Remote), writable ? 0u : 0x8006u);
        EXPECT_EQ(tree->WriteRegister(row.address, local, Origin::Local), 0u);
    }
}

TEST_F(DefaultMap, RegistersExistOnlyWhereTheMapPutsThem)
{
    std::vector<bool> present(0x1000 / 4, false);
    for (const Row& row : defaultMap())
        if (row.address < 0x1000)
            present[row.address / 4] = true;
    for (uint32_t a = 0; a < 0x1000; a += 4) {
        auto reg = tree->Find(a);
        EXPECT_EQ(bool(reg), bool(present[a / 4])) << std::hex << a;
    }
    uint32_t status = 0;
    for (uint32_t a : {0x0D0Cu, 0x0D10u, 0x0D14u, 0x0D20u, 0x0D24u, 0x0D80u, 0x0D84u}) {
        tree->ReadRegister(a, &status, Origin::Remote);
        EXPECT_EQ(status, 0x8003u) << std::hex << a;
    }
}

TEST_F(DefaultMap, RolesAndMailboxes)
{
    EXPECT_TRUE(std::dynamic_pointer_cast<CCPReg>(tree->Find(0x0A00)));
    EXPECT_TRUE(std::dynamic_pointer_cast<SCPSReg>(tree->Find(0x0D04)));
    EXPECT_TRUE(std::dynamic_pointer_cast<SCPSReg>(tree->Find(0x0D44)));
    EXPECT_EQ(map.CCP(), tree->Find(0x0A00));
    EXPECT_EQ(map.Resend(), tree->FindResendCmd());
    EXPECT_EQ(map.Events(), tree->FindEventEmitter());
    EXPECT_EQ(map.String(0x0048)->GetValue(), "Norvik Works");
    EXPECT_FALSE(map.UInt(0x0048));

    Bytes buf(16);
    EXPECT_EQ(tree->ReadMemory(0xA040, buf.data(), 16, Origin::Local), 0x8FFFu) << "covers the resend mailbox";
    EXPECT_EQ(tree->ReadMemory(0xA054, buf.data(), 4, Origin::Internal), 0x8FFFu);
}

TEST_F(DefaultMap, HostInformationIsPlausible)
{
    EXPECT_GE(map.UInt(0xA004)->GetValue(), 1u);
#if defined(__x86_64__)
    EXPECT_EQ(map.UInt(0xA008)->GetValue(), 9u);
#endif
    EXPECT_EQ(map.UInt(0xA00C)->GetValue(), static_cast<uint32_t>(sysconf(_SC_PAGESIZE)));
    EXPECT_EQ(map.UInt(0xA010)->GetValue(), static_cast<uint32_t>(sysconf(_SC_PAGESIZE)));
    EXPECT_GE(map.UInt(0xA014)->GetValue(), 3u) << "a Linux kernel major version";
}

TEST(HostInfo, KernelReleaseAndArchitecture)
{
    struct Case {
        const char* release;
        uint32_t major, minor, build;
    };
    const Case releases[] = {
        {"6.1.0-18-amd64", 6, 1, 0},
        {"5.15.133.1-microsoft-standard-WSL2", 5, 15, 133},
        {"6.8", 6, 8, 0},
        {"4.19.0+", 4, 19, 0},
        {"99999999999.1.2", 0xFFFFFFFF, 1, 2},
        {"", 0, 0, 0},
        {"abc", 0, 0, 0},
    };
    for (const Case& c : releases) {
        const OsVersion v = ParseKernelRelease(c.release);
        EXPECT_EQ(v.major, c.major) << c.release;
        EXPECT_EQ(v.minor, c.minor) << c.release;
        EXPECT_EQ(v.build, c.build) << c.release;
    }
    EXPECT_EQ(ArchitectureCode("x86_64"), 9u);
    EXPECT_EQ(ArchitectureCode("aarch64"), 12u);
    EXPECT_EQ(ArchitectureCode("i686"), 0u);
    EXPECT_EQ(ArchitectureCode("riscv64"), 0xFFFFu);
}

TEST(StreamChannelBlock, SourcePortReadOnlyForChannelZeroOnly)
{
    RegTree tree(kRegTreeBase, kRegTreeSize);
    EXPECT_TRUE(AddStreamChannelBlock(tree, 0));
    EXPECT_TRUE(AddStreamChannelBlock(tree, 3));
    EXPECT_FALSE(AddStreamChannelBlock(tree, 3)) << "already there";
    EXPECT_EQ(tree.WriteRegister(0x0D1C, 0, Origin::Remote), 0x8006u);
    EXPECT_EQ(tree.WriteRegister(0x0DDC, 0, Origin::Remote), 0u);
    EXPECT_TRUE(std::dynamic_pointer_cast<SCPSReg>(tree.Find(0x0DC4)));
}
