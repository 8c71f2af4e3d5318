#include "camera_fixture.h"
#include "gvcp_client.h"

#include "server/camera_guard.h"

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

namespace camera_test {
namespace {

// The guard answers the body's result, and its failure value for whatever the body throws.
TEST(CameraGuard, AnswersTheFailureValueForAnythingThrown)
{
    struct Case {
        const char* name;
        std::function<uint32_t()> body;
        uint32_t result;
    };
    const Case cases[] = {
        {"returns", [] { return 7u; }, 7u},
        {"std exception", []() -> uint32_t { throw std::runtime_error("inside"); }, GevResult::Fail},
        {"allocation failure", []() -> uint32_t { throw std::bad_alloc(); }, GevResult::Fail},
        {"not a std exception", []() -> uint32_t { throw 42; }, GevResult::Fail},
        {"text", []() -> uint32_t { throw "text"; }, GevResult::Fail},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Kivu::guarded("op", c.body), c.result) << c.name;

    // Operations that answer no status: their own failure value.
    int object = 0;
    EXPECT_EQ(Kivu::guarded<int*>("op", nullptr, [&] { return &object; }), &object);
    EXPECT_EQ(Kivu::guarded<int*>("op", nullptr, []() -> int* { throw 1; }), nullptr);
    EXPECT_FALSE(Kivu::guarded<bool>("op", false, []() -> bool { throw std::logic_error("x"); }));
    EXPECT_EQ(Kivu::guarded<uint32_t>("op", 1, []() -> uint32_t { throw std::bad_alloc(); }), 1u);
}

// User handlers that throw, std exceptions or not.
struct Throwing {
    bool standard = true;
    int calls = 0;
};

bool throwingHandler(void* context, const char*)
{
    auto& t = *static_cast<Throwing*>(context);
    ++t.calls;
    if (t.standard)
        throw std::runtime_error("handler failed");
    throw 7;
}

class CameraBorderTest : public CameraTest {
protected:
    void SetUp() override
    {
        CameraTest::SetUp();
        prepare();
    }

    void prepare()
    {
        ASSERT_EQ(camera->AddCategory("C", nullptr), 0u);
        ASSERT_EQ(camera->AddRegisterFeature(2, "Gain", "C", 3, nullptr, 0), 0u);
        ASSERT_EQ(camera->SetIntegerValue("Gain", 7), 0u);
        // A register node whose length no integer access knows.
        ASSERT_EQ(camera->AddRegisterFeature(2, "Odd", "C", 3, nullptr, 0), 0u);
        ASSERT_EQ(camera->SetFeatureChildValue("regOdd", "Length", "2", false), 0u);
    }

    // The camera still serves after a failed operation: values, raw registers, Stop and Start.
    void expectUsable(const char* name)
    {
        SCOPED_TRACE(name);
        EXPECT_EQ(camera->SetFeatureReadCallback(nullptr, nullptr), 0u);
        EXPECT_EQ(camera->SetFeatureWriteCallback(nullptr, nullptr), 0u);
        int64_t value = 0;
        EXPECT_EQ(camera->GetIntegerValue("Gain", &value), 0u);
        EXPECT_EQ(value, 7) << "a failed operation changed the value";
        EXPECT_EQ(camera->SetIntegerValue("Gain", 9), 0u);
        EXPECT_EQ(camera->GetIntegerValue("Gain", &value), 0u);
        EXPECT_EQ(value, 9);
        EXPECT_EQ(reg(0x0000), 0x00010002u);
        uint32_t mode = 0;
        EXPECT_EQ(camera->GetFeatureAccessMode("Gain", &mode), 0u);
        EXPECT_EQ(mode, 3u);
        EXPECT_EQ(camera->Stop(), 0u);
        EXPECT_EQ(camera->Start("127.0.0.5"), 0u);
        EXPECT_EQ(camera->Stop(), 0u);
    }
};

TEST_F(CameraBorderTest, ExceptionsInsideOperationsEndAtTheBorder)
{
    Throwing standard, other;
    other.standard = false;
    struct Case {
        const char* name;
        bool running;
        std::function<uint32_t(Kivu::Camera&)> call;
        uint32_t result;
        const Throwing* handler;  // the handler the call must have reached, if any
    };
    const Case cases[] = {
        {"access mode no description knows", false,
         [](Kivu::Camera& c) { return c.SetFeatureAccessMode("Gain", 4); }, GevResult::Fail, nullptr},
        {"raw read of a string register", false,
         [](Kivu::Camera& c) {
             uint32_t v = 0;
             return c.ReadRegister(0x0048, &v);
         },
         GevResult::Fail, nullptr},
        {"integer set on a 2-byte register", false, [](Kivu::Camera& c) { return c.SetIntegerValue("Odd", 1); },
         GevResult::Fail, nullptr},
        {"integer get on a 2-byte register", false,
         [](Kivu::Camera& c) {
             int64_t v = 0;
             return c.GetIntegerValue("Odd", &v);
         },
         GevResult::Fail, nullptr},
        {"integer range on a 2-byte register", false,
         [](Kivu::Camera& c) { return c.SetIntegerRange("Odd", 0, 1, 0); }, GevResult::Fail, nullptr},
        {"write handler throws a std exception", true,
         [&](Kivu::Camera& c) {
             c.SetFeatureWriteCallback(&standard, &throwingHandler);
             return c.SetIntegerValue("Gain", 8);
         },
         GevResult::Fail, &standard},
        {"write handler throws something else", true,
         [&](Kivu::Camera& c) {
             c.SetFeatureWriteCallback(&other, &throwingHandler);
             return c.SetIntegerValue("Gain", 8);
         },
         GevResult::Fail, &other},
        // A read handler's result is not asked: the read goes on.
        {"read handler throws", true,
         [&](Kivu::Camera& c) {
             c.SetFeatureReadCallback(&other, &throwingHandler);
             int64_t v = 0;
             const uint32_t st = c.GetIntegerValue("Gain", &v);
             return st == GevResult::Ok && v == 7 ? st : GevResult::Fail;
         },
         GevResult::Ok, &other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make(defaultNet());
        prepare();
        if (c.running) {
            ASSERT_EQ(camera->Start("127.0.0.5"), 0u);
        }
        const int calls = c.handler != nullptr ? c.handler->calls : 0;
        EXPECT_EQ(c.call(*camera), c.result);
        if (c.handler != nullptr) {
            EXPECT_EQ(c.handler->calls, calls + 1) << "the handler was not reached";
        }
        expectUsable(c.name);
    }
}

// A client's write whose handler throws is refused, a read is answered, and the
// receive thread goes on serving.
TEST_F(CameraBorderTest, ThrowingHandlersEndAtTheClientsAccess)
{
    uint32_t address = 0;
    ASSERT_EQ(camera->GetFeatureAddress("Gain", &address), 0u);
    Throwing standard, other;
    other.standard = false;
    ASSERT_EQ(camera->SetFeatureWriteCallback(&standard, &throwingHandler), 0u);
    ASSERT_EQ(camera->SetFeatureReadCallback(&other, &throwingHandler), 0u);
    ASSERT_EQ(camera->Start("127.0.0.5"), 0u);

    test_support::GvcpClient client(test_support::loopback(1));
    client.setServer(test_support::loopback(5), camera->Control().LocalPort());
    ASSERT_EQ(client.writeReg(0x0A00, 2)->status(), 0u);

    auto written = client.writeReg(address, 42);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->status(), 0x8002u);
    EXPECT_EQ(standard.calls, 1);
    auto read = client.readReg(address);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->status(), 0u);
    EXPECT_EQ(read->word(0), 7u);
    EXPECT_EQ(other.calls, 1);

    ASSERT_EQ(camera->SetFeatureWriteCallback(nullptr, nullptr), 0u);
    written = client.writeReg(address, 43);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->status(), 0u);
    read = client.readReg(address);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->word(0), 43u);
    EXPECT_EQ(other.calls, 2);
    EXPECT_EQ(camera->Stop(), 0u);
}

// A channel-change handler that throws does not undo the change that called it.
TEST_F(CameraBorderTest, ThrowingChannelChangeHandlerLeavesTheChange)
{
    int calls = 0;
    auto handler = [](void* context) {
        ++*static_cast<int*>(context);
        throw std::runtime_error("channel handler failed");
    };
    ASSERT_EQ(camera->SetChannelChangeCallback(&calls, 0, handler), 0u);
    EXPECT_EQ(camera->SetChunkPayloadSize(64, 1, 0), 0u);
    EXPECT_EQ(calls, 1);
    uint32_t size = 0;
    ASSERT_EQ(camera->GetChunkPayloadSize(&size, 0), 0u);
    EXPECT_EQ(size, 64u + 8u + 8u);
    EXPECT_EQ(camera->ApplyRegionSettings(0), 1u);
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace camera_test
