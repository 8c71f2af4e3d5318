#include "src/read_data_names.h"

#include "stream/status_container.h"

#include <gtest/gtest.h>

using namespace quillan;
namespace qs = quillan::stream;

TEST(ReadDataNames, Table)
{
    struct Case {
        const char* name;
        bool known;
        int field;
        const char* key;
        uint32_t tag;
    };
    const Case cases[] = {
        {"PictureCounter", true, qs::PictureCounter, "", 0},
        {"GetPictureCounter", true, qs::PictureCounter, "", 0},
        {"SystemTime", true, qs::TimeStamp, "", 0},
        {"GetSystemTime", true, qs::TimeStamp, "", 0},
        {"GetTimestamp", true, qs::TimeStamp, "", 0},
        {"Timestamp", false, -1, "", 0},
        {"picturecounter", false, -1, "", 0},
        {"GetEAFunctionInputCounter", true, qs::UserIoCounter, "", 0},
        {"SerialNumber", true, -1, "device:general:serialnumber", 0},
        {"linInfo", true, -1, "device:general:lininfo", 0},
        {"GetlinInfo", true, -1, "device:general:lininfo", 0},
        {"LinInfo", false, -1, "", 0},
        {"IOState", true, qs::IoState, "device:general:usrio:state", 0},
        {"TTLState", true, -1, "device:general:ttl_rs422:state", 0},
        {"ExposureTime", true, qs::ExposureTime, "device:settings:exposuretime:current", 0},
        {"EncoderTriggerFunction", true, qs::EncoderTriggerFunction, "device:settings:triggerfunction:current", 0},
        {"UserString", true, -1, "device:settings:userstring:current", 0},
        {"GetEA2InputLoad", true, static_cast<int>(qs::userIoIndex(1, qs::InputLoad)),
         "device:settings:usrio:ea2:inputfunctionload:current", 0},
        {"EA4ResetCounterEncoderTTLRS422", true, 95, "device:settings:usrio:ea4:resetcounter:encoder_ttl_rs422:current",
         0},
        {"EA1Function", true, 40, "device:settings:usrio:ea1:function:current", 0},
        {"EA5Function", false, -1, "", 0},
        {"IDScan", true, -1, "", 0x021A0601},
        {"GetIDCRC", true, -1, "", 0x021AFFFF},
        {"", false, -1, "", 0},
    };
    for (const auto& c : cases) {
        auto r = lookupReadDataName(c.name);
        ASSERT_EQ(r.has_value(), c.known) << c.name;
        if (!r)
            continue;
        EXPECT_EQ(r->statusField, c.field) << c.name;
        EXPECT_EQ(r->descriptorKey, c.key) << c.name;
        EXPECT_EQ(r->blockTag, c.tag) << c.name;
    }
}
