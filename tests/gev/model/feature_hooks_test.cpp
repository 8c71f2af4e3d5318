#include "model/feature_desc.h"

#include "feature_test_support.h"
#include "watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace Kivu;
using testing_support::DescFixture;
using testing_support::runWithin;

namespace {

// A feature handler that records the names it is called with.
struct Recording {
    std::mutex mutex;
    std::vector<std::string> names;
    bool answer = true;
    std::function<void(const char*)> inside;  // run inside the handler

    static bool handle(void* self, const char* name)
    {
        auto& r = *static_cast<Recording*>(self);
        {
            std::lock_guard lock(r.mutex);
            r.names.push_back(name);
        }
        if (r.inside)
            r.inside(name);
        return r.answer;
    }
    std::vector<std::string> take()
    {
        std::lock_guard lock(mutex);
        return std::exchange(names, {});
    }
};

// Features A (int32 at 0x10000), B (uint32 at 0x10004), the unlinked node
// regC (0x10008) and the string feature S (0x1000C).
struct HookFixture : DescFixture {
    Recording reads, writes;

    HookFixture()
    {
        FeatureDesc& d = *desc;
        d.AddIntRegSigned("regA", 1, 3, 4);
        d.AddIntRegUnsigned("regB", 2, 3, true);
        d.AddIntRegSigned("regC", 3, 3, 4);
        d.AddStringReg("regS", 3);
        d.AddFeature("Integer", "A", nullptr, nullptr);
        d.SetFeatureChildText("A", "pValue", "regA", false);
        d.AddFeature("Integer", "B", nullptr, nullptr);
        d.SetFeatureChildText("B", "pValue", "regB", false);
        d.AddFeature("String", "S", nullptr, nullptr);
        d.SetFeatureChildText("S", "pValue", "regS", false);
    }
    void handlers()
    {
        desc->SetReadCallback(&reads, &Recording::handle);
        desc->SetWriteCallback(&writes, &Recording::handle);
    }
    uint32_t remoteRead(uint32_t address, uint32_t length, uint8_t* out)
    {
        return tree->ReadMemory(address, out, length, Origin::Remote);
    }
    uint32_t remoteWrite32(uint32_t address, uint32_t value)
    {
        uint8_t b[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
        return tree->WriteMemory(address, b, 4, Origin::Remote);
    }
    uint32_t remoteRead32(uint32_t address)
    {
        uint8_t b[4] = {};
        EXPECT_EQ(remoteRead(address, 4, b), 0u);
        return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    }
};

using Names = std::vector<std::string>;

}  // namespace

TEST(FeatureHooks, AccessTable)
{
    struct Case {
        const char* what;
        bool handler, enabled, answer;
        std::function<uint32_t(HookFixture&)> access;
        uint32_t status;
        Names reads, writes;
        int32_t finalA;  // value of A afterwards
    };
    const auto remoteWriteA = [](HookFixture& f) { return f.remoteWrite32(0x10000, 9); };
    const auto localSetA = [](HookFixture& f) { return f.desc->SetInt32("A", 9); };
    const auto internalSetA = [](HookFixture& f) {
        return static_cast<IntReg&>(*f.tree->Find(0x10000)).SetValue(9) ? 0u : 1u;
    };
    const auto localGetA = [](HookFixture& f) {
        int32_t v;
        return f.desc->GetInt32("A", v);
    };
    const Case cases[] = {
        {"no handler: remote write accepted", false, true, true, remoteWriteA, 0, {}, {}, 9},
        {"disabled: no call for a local set", true, false, false, localSetA, 0, {}, {}, 9},
        {"disabled: no call for a local get", true, false, true, localGetA, 0, {}, {}, 1},
        {"remote write accepted", true, true, true, remoteWriteA, 0, {}, {"A"}, 9},
        {"remote write refused", true, true, false, remoteWriteA, GevStatus::InvalidParameter, {}, {"A"}, 1},
        {"local set refused", true, true, false, localSetA, GevResult::Fail, {}, {"A"}, 1},
        {"internal set refused", true, true, false, internalSetA, 1, {}, {"A"}, 1},
        {"local get", true, true, true, localGetA, 0, {"A"}, {}, 1},
        {"block read across three registers", true, true, true,
         [](HookFixture& f) {
             uint8_t b[12];
             return f.remoteRead(0x10000, 12, b);
         },
         0, {"A", "B", "regC"}, {}, 1},
        {"string feature: one call per write", true, true, true,
         [](HookFixture& f) { return f.desc->SetString("S", "hello"); }, 0, {}, {"S"}, 1},
        {"string feature: one call per remote read", true, true, true,
         [](HookFixture& f) {
             uint8_t b[128];
             return f.remoteRead(0x1000C, 128, b);
         },
         0, {"S"}, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HookFixture f;
        if (c.handler)
            f.handlers();
        f.writes.answer = c.answer;
        f.desc->EnableCallbacks(c.enabled);
        EXPECT_EQ(c.access(f), c.status);
        f.desc->EnableCallbacks(false);
        EXPECT_EQ(f.reads.take(), c.reads);
        EXPECT_EQ(f.writes.take(), c.writes);
        int32_t a = 0;
        ASSERT_EQ(f.desc->GetInt32("A", a), 0u);
        EXPECT_EQ(a, c.finalA);
    }
}

TEST(FeatureHooks, ReadHandlerRefreshesWhatTheClientReceives)
{
    HookFixture f;
    f.handlers();
    f.reads.inside = [&](const char* name) {
        if (std::string(name) == "B") {
            EXPECT_EQ(f.desc->SetUInt32("B", 77), 0u);  // same feature: no second call
        }
    };
    f.desc->EnableCallbacks(true);
    EXPECT_EQ(f.remoteRead32(0x10004), 77u);
    EXPECT_EQ(f.reads.take(), Names{"B"});
}

TEST(FeatureHooks, WriteHandlerReadsTheNewValueAndWritesWithoutValidation)
{
    HookFixture f;
    f.handlers();
    std::vector<int32_t> seen;
    f.writes.inside = [&](const char*) {
        int32_t v = 0;
        EXPECT_EQ(f.desc->GetInt32("A", v), 0u);
        seen.push_back(v);
        EXPECT_EQ(f.desc->SetInt32("A", v + 1), 0u);
    };
    f.desc->EnableCallbacks(true);
    EXPECT_EQ(f.remoteWrite32(0x10000, 5), 0u);
    EXPECT_EQ(seen, std::vector<int32_t>{5});
    EXPECT_EQ(f.writes.take(), Names{"A"});
    EXPECT_EQ(f.remoteRead32(0x10000), 6u);
}

TEST(FeatureHooks, ReportedNameFollowsThePValueLink)
{
    HookFixture f;
    f.handlers();
    f.desc->EnableCallbacks(true);
    const auto readA = [&] { f.remoteRead32(0x10000); };
    const auto readC = [&] { f.remoteRead32(0x10008); };

    ASSERT_EQ(f.desc->SetFeatureChildText("A", "pValue", "regC", false), 0u);  // re-link
    readA();
    readC();
    EXPECT_EQ(f.reads.take(), (Names{"regA", "A"}));

    ASSERT_EQ(f.desc->RemoveFeature("A"), 0u);
    readC();
    EXPECT_EQ(f.reads.take(), Names{"regC"});

    ASSERT_EQ(f.desc->AddFeature("Integer", "C", nullptr, nullptr), 0u);
    ASSERT_EQ(f.desc->SetFeatureChildText("C", "pValue", "regC", false), 0u);
    readC();
    ASSERT_EQ(f.desc->RemoveFeatureChild("C", "pValue", nullptr), 0u);
    readC();
    EXPECT_EQ(f.reads.take(), (Names{"C", "regC"}));
}

TEST(FeatureHooks, HandlerMayUseTheDescriptionInsideATypedAccess)
{
    runWithin([] {
        HookFixture f;
        ASSERT_EQ(f.desc->AddFloatReg("regF", 1.0f, 3), 0u);
        ASSERT_EQ(f.desc->AddFeature("Float", "F", nullptr, nullptr), 0u);
        ASSERT_EQ(f.desc->SetFeatureChildText("F", "pValue", "regF", false), 0u);
        f.handlers();
        f.reads.inside = [&](const char* name) {
            if (std::string(name) != "F")
                return;
            EXPECT_EQ(f.desc->SetFloat("F", 2.5f), 0u);
            EXPECT_EQ(f.desc->SetInt32("A", 42), 0u);  // another feature: its own hooks
            EXPECT_EQ(f.desc->SetFeatureChildText("F", "Unit", "ms", false), 0u);
            std::string unit;
            EXPECT_EQ(f.desc->GetFeatureChildValue("F", "Unit", unit), 0u);
        };
        f.desc->EnableCallbacks(true);
        float v = 0;
        ASSERT_EQ(f.desc->GetFloat("F", v), 0u);
        EXPECT_EQ(v, 2.5f);
        EXPECT_EQ(f.writes.take(), Names{"A"});
        EXPECT_EQ(f.reads.take(), Names{"F"});
    });
}

TEST(FeatureHooks, ClientAccessesWhileTheDescriptionChanges)
{
    runWithin([] {
        HookFixture f;
        f.handlers();
        f.reads.inside = [&](const char*) {
            int32_t v;
            f.desc->GetInt32("B", v);
            f.desc->GetXmlSize();
        };
        f.desc->EnableCallbacks(true);
        std::atomic<bool> stop{false};
        std::thread client([&] {
            while (!stop.load()) {
                uint32_t status;
                f.tree->ReadRegister(0x10000, &status, Origin::Remote);
                f.tree->ReadRegister(0x10008, &status, Origin::Remote);
                f.reads.take();
            }
        });
        std::thread handlers([&] {
            for (int i = 0; i < 200; ++i) {
                f.desc->SetReadCallback(&f.reads, i % 2 ? &Recording::handle : nullptr);
                std::this_thread::yield();
            }
        });
        for (int i = 0; i < 200; ++i) {
            const std::string name = 'X' + std::to_string(i);
            ASSERT_EQ(f.desc->AddIntRegSigned(name.c_str(), i, 3, 4), 0u);
            ASSERT_EQ(f.desc->SetFeatureChildText("A", "pValue", name.c_str(), false), 0u);
            ASSERT_EQ(f.desc->SetFeatureChildText("A", "pValue", "regA", false), 0u);
            ASSERT_EQ(f.desc->RemoveFeature(name.c_str()), 0u);
            if (i % 50 == 0) {
                ASSERT_EQ(f.desc->RemoveFeature("regC"), 0u);
                ASSERT_EQ(f.desc->AddIntRegSigned("regC", 0, 3, 4), 0u);
            }
        }
        stop = true;
        handlers.join();
        client.join();
    });
}
