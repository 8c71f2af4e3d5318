#include "src/read_data_names.h"

#include "src/info_strings.h"

#include "stream/status_container.h"

#include <map>

namespace quillan {
namespace {

using namespace quillan::stream;

constexpr int kNone = -1;

struct Row {
    const char* name;
    int field;
    const char* key;  // full path, "settings:" + s for device:settings:s:current, or null
};

const Row kRows[] = {
    {"PictureCounter", PictureCounter, nullptr},
    {"UserIOCounter", UserIoCounter, nullptr},
    {"EAFunctionInputCounter", UserIoCounter, nullptr},
    {"SystemTime", TimeStamp, nullptr},
    {"CPUFiFo", CpuFifoFill, nullptr},
    {"FPGAFiFo", FpgaFifoFill, nullptr},
    {"BandwidthEth", EthernetBandwidth, nullptr},
    {"BandwidthDMA", DmaBandwidth, nullptr},
    {"StatisticDataUserData", StatisticUserData, nullptr},
    {"OrderNumber", kNone, "device:general:ordernumber"},
    {"ProductVersion", kNone, "device:general:productversion"},
    {"Producder", kNone, "device:general:producer"},
    {"HardwareVersion", kNone, "device:general:hardwareversion:general"},
    {"FirmwareVersion", kNone, "device:general:firmwareversion:general"},
    {"SerialNumber", kNone, "device:general:serialnumber"},
    {"MAC", kNone, "device:general:mac"},
    {"WorkingRangeZStart", kNone, "device:general:workingrange_z_start"},
    {"WorkingRangeZEnd", kNone, "device:general:measuringrange_z"},
    {"FieldWidthXStart", kNone, "device:general:fieldwidth_x_start"},
    {"FieldWidthXEnd", kNone, "device:general:fieldwidth_x_end"},
    {"PixelXMax", kNone, "device:general:pixel_x_max"},
    {"PixelZMax", kNone, "device:general:pixel_z_max"},
    {"linInfo", kNone, "device:general:lininfo"},
    {"IOState", IoState, kUserIoStatesSlot},
    {"EncoderHTL", EncoderHtl, "device:general:encoder_htl"},
    {"EncoderTTL", EncoderTtlRs422, "device:general:encoder_ttl_rs422"},
    {"TTLState", kNone, kTtlRs422StatesSlot},
    {"OnOffCounter", kNone, "device:general:onoffcounter"},
    {"OnTimeCounter", kNone, "device:general:ontimecounter"},
    {"Temperature", Temperature, "device:general:temperatur"},
    {"ScannerState", ScannerState, "device:general:scannerstatus"},
    {"UserString", kNone, "settings:userstring"},
    {"SignalEnable", SignalEnable, "settings:protocol:profile:signal:enable"},
    {"SignalContentZ", ContentZ, "settings:protocol:profile:signal:content:z"},
    {"SignalContentStrength", ContentStrength, "settings:protocol:profile:signal:content:strength"},
    {"SignalContentWidth", ContentWidth, "settings:protocol:profile:signal:content:width"},
    {"SignalContentReserved", ContentReserved, "settings:protocol:profile:signal:content:reserved"},
    {"SignalWidthMin", SignalWidthMin, "settings:signalwidthmin"},
    {"SignalWidthMax", SignalWidthMax, "settings:signalwidthmax"},
    {"SignalStrengthMin", SignalStrengthMin, "settings:signalstrengthmin"},
    {"SignalSelection", SignalSelection, "settings:signalselection"},
    {"AcquisitionLineTime", LineTime, "settings:acquisitionlinetime"},
    {"CameraRunning", CameraRunning, "settings:camerarunning"},
    {"HeartBeat", kNone, "settings:heartbeat"},
    {"SocketConnectionTimeout", kNone, "settings:socketconnectiontimeout"},
    {"TriggerSource", TriggerSource, "settings:triggersource"},
    {"TriggerAmountProfilesY", TriggerAmountProfilesY, "settings:triggeramountprofilesy"},
    {"AmountProfilesY", AmountProfilesY, "settings:amountprofilesy"},
    {"TriggerEncoderStep", TriggerEncoderStep, "settings:triggerencoderstep"},
    {"TriggerDelay", TriggerDelay, "settings:triggerdelay"},
    {"ExposureTime", ExposureTime, "settings:exposuretime"},
    {"LaserActive", LaserActive, "settings:laseractive"},
    {"LaserPWM", kNone, "settings:laserpwm"},
    {"LaserPWMDisableMode", kNone, "settings:laserpwmdisablemode"},
    {"ROI1WidthX", RoiWidthX, "settings:roi:x1:width"},
    {"ROI1OffsetX", RoiOffsetX, "settings:roi:x1:offset"},
    {"ROI1StepX", RoiStepX, "settings:roi:x1:step"},
    {"ROI1HeightZ", RoiHeightZ, "settings:roi:z1:height"},
    {"ROI1OffsetZ", RoiOffsetZ, "settings:roi:z1:offset"},
    {"SyncOut", SyncOut, "settings:syncout"},
    {"SyncOutDelay", SyncOutDelay, "settings:syncoutdelay"},
    {"EncoderTriggerFunction", EncoderTriggerFunction, "settings:triggerfunction"},
    {"EncoderCountDirection", EncoderCountDirection, "settings:countdirection"},
};

struct UserIoRow {
    const char* suffix;
    UserIoField field;
    const char* key;
};

const UserIoRow kUserIoRows[] = {
    {"Function", Function, "function"},
    {"FunctionLaserOff", FunctionLaserOff, "functionlaseroff"},
    {"FunctionProfileEnable", FunctionProfileEnable, "functionprofileenable"},
    {"FunctionResetCounter", FunctionResetCounter, "functionresetcounter"},
    {"InputFunction", InputFunction, "inputfunction"},
    {"InputLoad", InputLoad, "inputfunctionload"},
    {"Output", Output, "output"},
    {"OutputFunction", OutputFunction, "outputfunction"},
    {"ResetCounterRepeat", ResetCounterRepeat, "resetcounter:repeat"},
    {"ResetCounterSignaledge", ResetCounterSignaledge, "resetcounter:signaledge"},
    {"ResetCounterBaseTimeCounter", ResetCounterBaseTimeCounter, "resetcounter:basetimecounter"},
    {"ResetCounterPictureCounter", ResetCounterPictureCounter, "resetcounter:picturecounter"},
    {"ResetCounterEncoderHTL", ResetCounterEncoderHtl, "resetcounter:encoder_htl"},
    {"ResetCounterEncoderTTLRS422", ResetCounterEncoderTtlRs422, "resetcounter:encoder_ttl_rs422"},
};

const std::pair<const char*, uint32_t> kBlocks[] = {
    {"IDGeneral", 0x021A0101},          {"IDStatic", 0x021A0102},           {"IDDescriptor", 0x021A0103},
    {"IDRegisterCameraKTRA", 0x021A0301}, {"IDRegisterFPGAKTRA", 0x021A0401}, {"IDRegisterCameraKTRB", 0x021A0302},
    {"IDRegisterFPGAKTRB", 0x021A0402}, {"IDROIX", 0x021A0201},             {"IDROIZ", 0x021A0202},
    {"IDScan", 0x021A0601},             {"IDScanLinear", 0x021A0602},       {"IDScaleParams", 0x021A0801},
    {"IDCRC", 0x021AFFFF},
};

std::string fullKey(const char* key)
{
    std::string k(key);
    if (k.starts_with("settings:"))
        return "device:settings:" + k.substr(9) + ":current";
    return k;
}

using Table = std::map<std::string, ReadDataName, std::less<>>;

void addBoth(Table& t, const std::string& name, const ReadDataName& value)
{
    t[name] = value;
    t["Get" + name] = value;
}

const Table& table()
{
    static const Table t = [] {
        Table out;
        for (const auto& r : kRows)
            addBoth(out, r.name, ReadDataName{r.field, r.key ? fullKey(r.key) : std::string(), 0});
        // The time stamp is also "GetTimestamp", never plain "Timestamp".
        out["GetTimestamp"] = out["SystemTime"];
        for (size_t line = 0; line < kUserIoLines; ++line)
            for (const auto& r : kUserIoRows) {
                std::string n = std::to_string(line + 1);
                addBoth(out, "EA" + n + r.suffix,
                        ReadDataName{static_cast<int>(userIoIndex(line, r.field)),
                                     "device:settings:usrio:ea" + n + ":" + r.key + ":current", 0});
            }
        for (const auto& [name, tag] : kBlocks)
            addBoth(out, name, ReadDataName{kNone, {}, tag});
        return out;
    }();
    return t;
}

}  // namespace

std::optional<ReadDataName> lookupReadDataName(std::string_view name)
{
    const auto& t = table();
    auto it = t.find(name);
    if (it == t.end())
        return std::nullopt;
    return it->second;
}

}  // namespace quillan
