#include "model/reg_tree.h"
#include "model/registers.h"

#include "platform/bytes.h"
#include "recorder.h"
#include "watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace Kivu;
using testing_support::Recorder;
using testing_support::runWithin;
using Bytes = std::vector<uint8_t>;

namespace {

std::shared_ptr<UIntReg> u32(uint32_t address, uint32_t value, uint32_t access = Access::ReadWrite)
{
    return std::make_shared<UIntReg>(address, value, access);
}

std::shared_ptr<StringReg> str(uint32_t address, uint32_t length, const char* text = "")
{
    return std::make_shared<StringReg>(address, text, length, Access::ReadWrite);
}

uint32_t wire(uint32_t hostValue)
{
    uint8_t b[4];
    platform::storeBE32(b, hostValue);
    uint32_t v;
    std::memcpy(&v, b, 4);
    return v;
}

}  // namespace

TEST(RegTree, AddRefusesOverlapsAndRegistersOutsideTheWindow)
{
    struct Case {
        const char* what;
        uint32_t address, length;
        bool added;
    };
    // Window [0x1000, 0x2000) holding [0x1100, 0x1108) and [0x1200, 0x1210).
    const Case cases[] = {
        {"touching below", 0x10FC, 4, true},
        {"touching above", 0x1108, 4, true},
        {"one byte over the start", 0x10FD, 4, false},
        {"one byte over the end", 0x1107, 4, false},
        {"same start", 0x1100, 4, false},
        {"nested inside", 0x1204, 4, false},
        {"covering", 0x11FC, 0x20, false},
        {"below base", 0x0FFC, 4, false},
        {"straddling base", 0x0FFE, 4, false},
        {"last bytes of the window", 0x1FFC, 4, true},
        {"beyond the end", 0x1FFE, 4, false},
        {"after the window", 0x2000, 4, false},
    };
    for (const Case& c : cases) {
        RegTree tree(0x1000, 0x1000);
        ASSERT_TRUE(tree.AddRegister(std::make_shared<Int64Reg>(0x1100, 0, Access::ReadWrite, "regA")));
        ASSERT_TRUE(tree.AddRegister(str(0x1200, 0x10)));
        EXPECT_EQ(tree.AddRegister(str(c.address, c.length)), c.added) << c.what;
    }

    RegTree top(0xFFFFFF00u, 0xFF);
    EXPECT_FALSE(top.AddRegister(str(0xFFFFFFFCu, 8))) << "the end must not wrap past 2^32";
    EXPECT_FALSE(RegTree(0, 0x100).AddRegister(nullptr));
}

TEST(RegTree, RandomRegistersAreAllFoundAtTheirStartOnly)
{
    RegTree tree(0, 0x80000000);
    std::mt19937 rng(7);
    std::vector<std::pair<uint32_t, uint32_t>> placed;  // [start, end)
    for (int i = 0; i < 500; ++i) {
        const uint32_t start = (rng() % 0x4000) * 4;
        const uint32_t length = (rng() % 2 == 0) ? 4 : 8;
        const bool overlaps = std::any_of(placed.begin(), placed.end(), [&](auto r) {
            return start < r.second && start + length > r.first;
        });
        std::shared_ptr<Register> reg;
        if (length == 8)
            reg = std::make_shared<Int64Reg>(start, 0, Access::ReadWrite, "regL");
        else
            reg = u32(start, start);
        EXPECT_EQ(tree.AddRegister(reg), !overlaps) << std::hex << start;
        if (!overlaps)
            placed.emplace_back(start, start + length);
    }
    for (auto [s, e] : placed) {
        auto reg = tree.Find(s);
        ASSERT_TRUE(reg) << std::hex << s;
        EXPECT_EQ(reg->GetAddress(), s);
        if (e - s == 8) {
            EXPECT_FALSE(tree.Find(s + 4));
        }
    }
    // Removal keeps the rest.
    for (size_t i = 0; i < placed.size(); i += 2)
        tree.RemoveRegister(placed[i].first);
    for (size_t i = 0; i < placed.size(); ++i)
        EXPECT_EQ(bool(tree.Find(placed[i].first)), i % 2 == 1);
}

class TreeAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        tree.AddRegister(u32(0x0000, 0x00010002, Access::Read));
        tree.AddRegister(u32(0x0004, 0x80000001, Access::Read));
        tree.AddRegister(std::make_shared<FloatReg>(0x0010, 1.5f, Access::ReadWrite, "regF"));
        tree.AddRegister(std::make_shared<Int64Reg>(0x0018, int64_t(0x0102030405060708), Access::ReadWrite, "regL"));
        tree.AddRegister(std::make_shared<StringReg>(0x0048, "Norvik Works", 32, Access::Read));
        tree.AddRegister(u32(0x0100, 1));
        tree.AddRegister(u32(0x0104, 2));
        tree.AddRegister(u32(0x0108, 3));
        tree.AddRegister(std::make_shared<ResendCmd>());
        tree.AddRegister(u32(0xA04C, 4, Access::None));
        tree.AddRegister(u32(0x7FFFFFFC, 5));
    }

    RegTree tree{0, 0x80000000};
};

TEST_F(TreeAccess, SingleRegisterStatusTable)
{
    struct Case {
        uint32_t address;
        uint32_t origin;
        uint32_t status;
        uint32_t value;  // host order, when read successfully
    };
    const Case cases[] = {
        {0x0000, 2, 0, 0x00010002},
        {0x0004, 2, 0, 0x80000001},
        {0x0002, 2, 0x8005, 0},
        {0x0008, 2, 0x8003, 0},        // aligned gap
        {0x001C, 2, 0x8003, 0},        // low half of the 64-bit register
        {0x0018, 2, 0, 0x01020304},    // its high half
        {0x0010, 2, 0, 0x3FC00000},    // 1.5f
        {0x7FFFFFFC, 2, 0, 5},         // last word of the window
        {0x7FFFFFFE, 2, 0x8003, 0},
        {0x80000000, 2, 0x8003, 0},
        {0xFFFFFFFC, 2, 0x8003, 0},    // no wrap
        {0xA04C, 2, 0x8006, 0},
        {0xA04C, 1, 0, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.address);
        uint32_t status = 0xDEAD;
        const uint32_t v = tree.ReadRegister(c.address, &status, c.origin);
        EXPECT_EQ(status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(v, wire(c.value));
        }
        EXPECT_EQ(tree.ReadRegister(c.address, nullptr, c.origin), v);
    }
}

TEST_F(TreeAccess, SingleRegisterWrites)
{
    EXPECT_EQ(tree.WriteRegister(0x0010, wire(0x40490FDB), 2), 0u);
    auto f = std::dynamic_pointer_cast<FloatReg>(tree.Find(0x0010));
    EXPECT_FLOAT_EQ(f->GetValue(), 3.14159274f);
    EXPECT_EQ(tree.WriteRegister(0x0000, wire(7), 2), 0x8006u);
    EXPECT_EQ(tree.WriteRegister(0x0018, wire(7), 2), 0x8003u) << "a 64-bit register takes 8 bytes";
    EXPECT_EQ(tree.WriteRegister(0x0102, wire(7), 2), 0x8005u);
    EXPECT_EQ(tree.WriteRegister(0x0200, wire(7), 2), 0x8003u);
    EXPECT_EQ(tree.WriteRegister(0x0104, wire(0xCAFE), 2), 0u);
    EXPECT_EQ(std::dynamic_pointer_cast<UIntReg>(tree.Find(0x0104))->GetValue(), 0xCAFEu);
}

TEST_F(TreeAccess, SingleAccessToNonNumericRegistersRaises)
{
    for (uint32_t address : {0x0048u, 0xA048u}) {
        try {
            tree.ReadRegister(address, nullptr, 2);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Wrong register type!");
        }
        EXPECT_THROW(tree.WriteRegister(address, 0, 2), std::runtime_error);
    }
}

TEST_F(TreeAccess, ReadRegisterBytesReadsTheWholeRegisterRemotely)
{
    Bytes name(32, 0xEE);
    EXPECT_EQ(tree.ReadRegisterBytes(0x0048, name.data()), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name.data())), "Norvik Works");
    EXPECT_EQ(name[31], 0);
    Bytes word(4);
    EXPECT_EQ(tree.ReadRegisterBytes(0xA04C, word.data()), 0x8006u);
    EXPECT_EQ(tree.ReadRegisterBytes(0x0008, word.data()), 0x8003u);
}

TEST_F(TreeAccess, BlockReadTable)
{
    struct Case {
        const char* what;
        uint32_t address, length;
        uint32_t status;
        Bytes data;
    };
    const Case cases[] = {
        {"adjacent registers", 0x0100, 12, 0, {0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}},
        {"version and mode", 0x0000, 8, 0, {0, 1, 0, 2, 0x80, 0, 0, 1}},
        {"64-bit register whole", 0x0018, 8, 0, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"64-bit register high half", 0x0018, 4, 0, {1, 2, 3, 4}},
        {"inside a string", 0x004C, 8, 0, {'i', 'k', ' ', 'W', 'o', 'r', 'k', 's'}},
        {"string tail", 0x0060, 8, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
        {"register then gap", 0x0108, 8, 0x8003, {}},
        {"gap then register", 0x00FC, 8, 0x8003, {}},
        {"low half of 64-bit", 0x001C, 4, 0x8003, {}},
        {"length 0", 0x0100, 0, 0x8003, {}},
        {"length 6", 0x0100, 6, 0x8005, {}},
        {"unaligned address", 0x0102, 4, 0x8005, {}},
        {"mailbox", 0xA048, 4, 0x8FFF, {}},
        {"internal register", 0xA04C, 4, 0x8006, {}},
        {"end of window", 0x7FFFFFFC, 4, 0, {0, 0, 0, 5}},
        {"past the window", 0x7FFFFFFC, 8, 0x8003, {}},
        {"wrapping range", 0xFFFFFFF0, 0x20, 0x8003, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes buf(std::max<uint32_t>(c.length, 4), 0xEE);
        EXPECT_EQ(tree.ReadMemory(c.address, buf.data(), c.length, 2), c.status);
        if (c.status == 0) {
            EXPECT_EQ(buf, c.data);
        }
    }
    EXPECT_EQ(tree.ReadMemory(0x0100, nullptr, 4, 2), 0x8003u);
}

TEST(RegTreeBlockWrite, FailsBeforeWritingWhenRangeIsNotCovered)
{
    RegTree tree(0, 0x10000);
    auto a = u32(0x100, 1), b = u32(0x104, 2);
    tree.AddRegister(a);
    tree.AddRegister(b);
    const Bytes data = {0, 0, 0, 9, 0, 0, 0, 9, 0, 0, 0, 9};
    EXPECT_EQ(tree.WriteMemory(0x100, data.data(), 12, 2), 0x8003u);
    EXPECT_EQ(a->GetValue(), 1u);
    EXPECT_EQ(b->GetValue(), 2u);
    EXPECT_EQ(tree.WriteMemory(0x100, data.data(), 8, 2), 0u);
    EXPECT_EQ(a->GetValue(), 9u);
    EXPECT_EQ(b->GetValue(), 9u);
}

TEST(RegTreeBlockWrite, VisitsInAddressOrderAndStopsAtARefusal)
{
    RegTree tree(0, 0x10000);
    std::vector<std::shared_ptr<UIntReg>> regs;
    for (uint32_t i = 0; i < 8; ++i)
        regs.push_back(u32(0x100 + 4 * i, 0));
    std::vector<size_t> insertion = {5, 2, 7, 0, 3, 6, 1, 4};
    for (size_t i : insertion)
        tree.AddRegister(regs[i]);

    std::vector<uint32_t> visited;
    std::vector<std::unique_ptr<Recorder>> recs;
    for (uint32_t i = 0; i < 8; ++i) {
        recs.push_back(std::make_unique<Recorder>("r", i != 5));
        recs.back()->action = [&visited, i] { visited.push_back(i); };
        regs[i]->Subscribe(CallbackList::BeforeWrite, recs.back()->Cb<UIntReg>());
    }
    Bytes data(32);
    for (size_t i = 0; i < 8; ++i)
        data[4 * i + 3] = static_cast<uint8_t>(10 + i);
    EXPECT_EQ(tree.WriteMemory(0x100, data.data(), 32, 2), 0x8002u);
    EXPECT_EQ(visited, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
    for (uint32_t i = 0; i < 8; ++i)
        EXPECT_EQ(regs[i]->GetValue(), i < 5 ? 10 + i : 0u) << i;
}

TEST(RegTreeLifetime, FoundRegisterOutlivesItsRemoval)
{
    RegTree tree(0, 0x10000);
    tree.AddRegister(u32(0x100, 77));
    auto reg = tree.Find(0x100);
    tree.RemoveRegister(0x100);
    EXPECT_FALSE(tree.Find(0x100));
    uint8_t b[4];
    EXPECT_EQ(reg->Read(0, b, 4, 2), 0u);
    EXPECT_EQ(platform::loadBE32(b), 77u);
    tree.AddRegister(u32(0x104, 1));
    tree.Clear();
    EXPECT_FALSE(tree.Find(0x104));
}

TEST(RegTreeLifetime, MailboxLookups)
{
    RegTree tree(0, 0x80000000);
    EXPECT_FALSE(tree.FindResendCmd());
    tree.AddRegister(std::make_shared<ResendCmd>());
    tree.AddRegister(std::make_shared<EventEmitter>());
    EXPECT_TRUE(tree.FindResendCmd());
    EXPECT_TRUE(tree.FindEventEmitter());
    EXPECT_FALSE(tree.AddRegister(u32(0xA054, 0))) << "the event mailbox occupies its 4 bytes";
}

TEST(RegTreeReentrancy, CallbacksMayUseTheTree)
{
    runWithin([] {
        RegTree tree(0, 0x10000);
        auto a = u32(0x100, 1), b = u32(0x104, 2);
        tree.AddRegister(a);
        tree.AddRegister(b);
        Recorder onRead, onWrite;
        bool found = false;
        onRead.action = [&] {
            found = bool(tree.Find(0x104));
            uint32_t st = 1;
            tree.ReadRegister(0x104, &st, 2);
            found = found && st == 0;
        };
        a->Subscribe(CallbackList::BeforeRead, onRead.Cb<UIntReg>());
        uint8_t buf[8];
        EXPECT_EQ(tree.ReadMemory(0x100, buf, 8, 2), 0u);
        EXPECT_TRUE(found);

        // A single access holds no tree lock, so its callbacks may add registers.
        bool added = false;
        onWrite.action = [&] { added = tree.AddRegister(u32(0x200, 0)); };
        b->Subscribe(CallbackList::AfterWrite, onWrite.Cb<UIntReg>());
        EXPECT_EQ(tree.WriteRegister(0x104, wire(3), 2), 0u);
        EXPECT_TRUE(added);
    });
}

TEST(RegTreeConcurrency, AccessesWhileRegistersComeAndGo)
{
    runWithin([] {
        RegTree tree(0, 0x10000);
        for (uint32_t i = 0; i < 16; ++i)
            tree.AddRegister(u32(0x100 + 4 * i, i));
        std::atomic<bool> stop{false};
        std::thread churn([&] {
            for (int n = 0; n < 2000; ++n) {
                tree.AddRegister(u32(0x1000, n));
                tree.RemoveRegister(0x1000);
            }
            stop = true;
        });
        std::thread writer([&] {
            Bytes data(64, 1);
            while (!stop)
                EXPECT_EQ(tree.WriteMemory(0x100, data.data(), 64, 2), 0u);
        });
        int bad = 0;
        while (!stop) {
            Bytes buf(64);
            if (tree.ReadMemory(0x100, buf.data(), 64, 2) != 0)
                ++bad;
            uint32_t st;
            tree.ReadRegister(0x1000, &st, 2);
            if (st != 0 && st != 0x8003)
                ++bad;
        }
        churn.join();
        writer.join();
        EXPECT_EQ(bad, 0);
    });
}
