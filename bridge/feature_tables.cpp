// The scanner's feature tree: categories, then per category its features (each with its range,
// entries, value, children and backing-register children) and its SwissKnife nodes. Names and
// texts are the device's own, spelling included.
#include "feature_description.h"

#include <cstring>

namespace lumabridge::description {
namespace {

constexpr const char* kLocked = "regTLParamsLocked";

// Cached scanner values.
int64_t pixelXMax(const Inputs& in) { return in.scanner.m_PixelXMax; }
int64_t pixelZMax(const Inputs& in) { return in.scanner.m_PixelZMax; }
int64_t sortX(const Inputs& in) { return in.sortX ? 1 : 0; }
int64_t signalSelection(const Inputs& in) { return in.scanner.m_SignalSelection; }
int64_t signalWidthMinMin(const Inputs& in) { return in.scanner.m_SignalWidthMinLimits.m_Min; }
int64_t signalWidthMinMax(const Inputs& in) { return in.scanner.m_SignalWidthMinLimits.m_Max; }
int64_t signalWidthMaxMin(const Inputs& in) { return in.scanner.m_SignalWidthMaxLimits.m_Min; }
int64_t signalWidthMaxMax(const Inputs& in) { return in.scanner.m_SignalWidthMaxLimits.m_Max; }
int64_t signalStrengthMinMin(const Inputs& in) { return in.scanner.m_SignalStrengthMinLimits.m_Min; }
int64_t signalStrengthMinMax(const Inputs& in) { return in.scanner.m_SignalStrengthMinLimits.m_Max; }
int64_t syncOut(const Inputs& in) { return in.scanner.m_SyncOut; }
int64_t temperature(const Inputs& in) { return in.scanner.m_DeviceTemperature; }

std::string orderNumber(const Inputs& in) { return in.scanner.m_OrderNumber; }
std::string producer(const Inputs& in) { return in.scanner.m_Producer; }
std::string productVersion(const Inputs& in) { return in.scanner.m_ProductVersion; }
std::string firmwareVersion(const Inputs& in) { return in.scanner.m_FirmwareVersion; }
std::string serialNumber(const Inputs& in) { return in.scanner.m_SerialNumber; }
std::string transmitter(const Inputs&) { return "Transmitter"; }
std::string linescan3D(const Inputs&) { return "Linescan3D"; }
std::string gigEVision(const Inputs&) { return "GigEVision"; }

// Frequent child groups.
Child displayName(const char* text) { return {"DisplayName", text}; }
Child invisible() { return {"Visibility", "Invisible"}; }
Child expert() { return {"Visibility", "Expert"}; }
Child streamable() { return {"Streamable", "Yes"}; }
Child locked() { return {"pIsLocked", kLocked}; }
Child writeAround() { return {"Cachable", "WriteAround"}; }
Child polled() { return {"PollingTime", "1000"}; }
Child invalidator(const char* node) { return {"pInvalidator", node}; }
Child selected(const char* node, When when = When::Always) { return {"pSelected", node, when}; }

// An invisible read-only limit, invalidated by the nodes given.
Feature limit(const char* name, Kind kind, std::vector<const char*> invalidators)
{
    Feature f{name, kind, Access::RO};
    f.children = {invisible()};
    for (const char* node : invalidators)
        f.registerChildren.push_back(invalidator(node));
    return f;
}

std::vector<Feature> imageFormatControl()
{
    std::vector<Feature> s;
    s.push_back({"RegionSelector", Kind::Default});
    s.back().children = {displayName("Region Selector"), streamable()};

    s.push_back({"Width", Kind::Default});
    s.back().removedChildren = {"Min", "Max"};
    s.back().children = {{"pMin", "regWidthMin"}, {"pMax", "regWidthMax"}, displayName("Width"), streamable(),
                         {"pIsLocked", "IntIsScna3DExtract0OrLocked"}};
    s.back().registerChildren = {invalidator("SignalEnable"), invalidator("ComponentSelector")};
    s.push_back(limit("WidthMax", Kind::Integer, {"RegionSelector", "ComponentSelector", "SignalEnable", "OffsetX"}));
    s.push_back(limit("WidthMin", Kind::Integer, {"RegionSelector", "ComponentSelector", "SignalEnable"}));

    s.push_back({"Height", Kind::Default});
    s.back().removedChildren = {"Min", "Max"};
    s.back().children = {{"pMin", "regHeightMin"}, {"pMax", "regHeightMax"}, displayName("Height"), streamable(),
                         {"pIsLocked", "IntIsScna3DExtract0AndLocked"}};
    s.back().registerChildren = {invalidator("ComponentSelector")};
    s.push_back(limit("HeightMax", Kind::Integer, {"RegionSelector", "ComponentSelector", "OffsetY"}));
    s.push_back(limit("HeightMin", Kind::Integer, {"RegionSelector", "ComponentSelector"}));

    s.push_back({"OffsetX", Kind::Default});
    s.back().removedChildren = {"Max"};
    s.back().children = {{"Min", "0"}, {"pMax", "regOffsetXMax"}, {"Inc", "32"}, displayName("Offset X"),
                         streamable(), {"pIsLocked", "IntIsScna3DExtract0OrLocked"}};
    s.push_back(limit("OffsetXMax", Kind::Integer, {"RegionSelector", "Width"}));

    s.push_back({"OffsetY", Kind::Default});
    s.back().removedChildren = {"Max"};
    s.back().children = {{"Min", "0"}, {"pMax", "regOffsetYMax"}, displayName("Offset Y"), streamable(),
                         {"pIsLocked", "regRegionSelector"}};
    s.push_back(limit("OffsetYMax", Kind::Integer, {"RegionSelector", "Height"}));

    s.push_back({"PixelFormat", Kind::Default});
    s.back().removedEntries = {"Mono8"};
    s.back().pixelFormats = true;
    s.back().entries = {{"Mono10", 0, {{"pIsAvailable", "IntMono10Available"}}},
                        {"Mono10Packed", 0, {{"pIsAvailable", "IntMono10Available"}}},
                        {"Mono16", 0, {{"pIsAvailable", "IntMono16Available"}}},
                        {"Coord3D_ABC32f", 0, {{"pIsAvailable", "IntRangeAvailable"}}}};
    s.back().children = {displayName("Pixel Format"), locked(), streamable()};
    s.back().registerChildren = {invalidator("ComponentSelector")};
    s.push_back(limit("RangePixelFormatMono16", Kind::Boolean, {"PixelFormat"}));

    s.push_back({"ComponentSelector", Kind::Enumeration, Access::RW, When::Always, "Selects the component to control"});
    s.back().entries = {{"Intensity", 0}, {"Range", 1}};
    s.back().children = {streamable(), selected("ComponentEnable"), selected("PixelFormat")};

    s.push_back({"ComponentEnable", Kind::Boolean, Access::RW, When::Always,
                 "Add the selected component in the output frame"});
    s.back().children = {locked(), streamable()};
    s.back().registerChildren = {invalidator("ComponentSelector"), writeAround()};

    s.push_back({"ComponentIDValue", Kind::Integer, Access::RO, When::Always,
                 "Returns a unique Identifier value that corresponds to the selected Component type"});
    s.back().registerChildren = {invalidator("ComponentSelector")};

    s.push_back({"SensorWidth", Kind::Integer, Access::RO, When::Always, "Effective width of the camera sensor in pixels"});
    s.back().range = Range{pixelXMax, pixelXMax, 1};
    s.back().value = Number(pixelXMax);
    s.back().children = {displayName("Sensor Width")};

    s.push_back({"SensorHeight", Kind::Integer, Access::RO, When::Always,
                 "Effective height of the camera sensor in pixels"});
    s.back().range = Range{pixelZMax, pixelZMax, 1};
    s.back().value = Number(pixelZMax);
    s.back().children = {displayName("Sensor Height")};

    s.push_back({"Scan3DSortX", Kind::Boolean, Access::RW, When::NotOrbalis,
                 "Rectify the image to be 2.5D compatible image"});
    s.back().value = Number(sortX);
    s.back().children = {displayName("Scan 3D Sort X"), {"Visibility", "Guru"}, locked(), streamable()};

    s.push_back({"PayloadSize", Kind::Default});
    s.back().children = {displayName("Payload Size")};
    return s;
}

std::vector<Feature> acquisitionControl()
{
    std::vector<Feature> s;
    // The camera's own entry is "Continuous" = 2; the bridge's mapping has 1, so it is replaced
    // and the register set to it.
    s.push_back({"AcquisitionMode", Kind::Default, Access::RW, When::Always, "Sets the acquisition mode of the sensor"});
    s.back().removedEntries = {"Continuous"};
    s.back().entries = {{"Continuous", 1}, {"SingleFrame", 2, {}, When::NotOrbalis}};
    s.back().value = Number(1);
    s.back().children = {displayName("Acquisition Mode"), streamable(), locked()};

    s.push_back(limit("AcquisitionLineRateMax", Kind::Integer, {"Height", "Width", "ExposureTime"}));

    s.push_back({"AcquisitionLineRate", Kind::Float, Access::RW, When::Always,
                 "Sets the output rate of the sensor in Hz, the allowed value depends on the value of ExposureTime"});
    s.back().removedChildren = {"Max"};
    s.back().children = {{"Min", "0"}, {"pMax", "regAcquisitionLineRateMax"}, displayName("Acquisition Line Rate"),
                         streamable()};
    s.back().registerChildren = {writeAround()};

    s.push_back({"ResultingAcquisitionLineRate", Kind::Integer, Access::RO, When::Always,
                 "Shows the actual line rate of the sensor"});
    s.back().children = {displayName("Resulting Acquisition Line Rate")};
    s.back().registerChildren = {polled()};

    s.push_back(limit("ExposureTimeMax", Kind::Integer, {"TriggerSource", "AcquisitionLineRate"}));

    s.push_back({"ExposureTime", Kind::Integer, Access::RW, When::Always,
                 "Sets the exposure time of the camera in us, the allowed value depends on the value of "
                 "AcquisitionLineRate"});
    s.back().removedChildren = {"Max"};
    s.back().children = {{"Min", "0"}, {"pMax", "regExposureTimeMax"}, displayName("Exposure Time"), streamable()};
    s.back().registerChildren = {writeAround()};

    s.push_back({"TriggerSelector", Kind::Enumeration, Access::RW, When::Always, "Select the type of trigger to configure"});
    s.back().entries = {{"LineStart", 0}, {"FrameStart", 1, {}, When::NotOrbalis}, {"AcquisitionActive", 2}};
    s.back().children = {displayName("Trigger Selector"), streamable(),        selected("TriggerMode"),
                         selected("TriggerSource"),       selected("TriggerActivation"), selected("TriggerDelay"),
                         selected("TriggerDivider")};

    s.push_back({"TriggerMode", Kind::Enumeration, Access::RW, When::Always, "Controls if the selected trigger is active"});
    s.back().entries = {{"Off", 0}, {"On", 1}};
    s.back().children = {displayName("Trigger Mode"), streamable(), locked()};
    s.back().registerChildren = {invalidator("TriggerSelector"), writeAround()};

    s.push_back({"TriggerSource", Kind::Enumeration, Access::RW, When::Always, "Sets the trigger source"});
    s.back().entries = {{"Line1", 1},
                        {"Line2", 2},
                        {"Line3", 3},
                        {"Line4", 4},
                        {"Encoder1", 5, {{"pIsAvailable", "IntLineSourcesEnable"}}},
                        {"Encoder2", 6, {{"pIsAvailable", "IntLineSourcesEnable"}}},
                        {"Software", 7, {{"pIsAvailable", "IntFrameSourcesEnable"}}}};
    s.back().children = {displayName("Trigger Source"), {"pIsAvailable", "TriggerMode"}, locked(), streamable()};
    s.back().registerChildren = {invalidator("TriggerSelector"),   invalidator("TriggerMode"),
                                 invalidator("EncoderSourceA"),    invalidator("EncoderSourceB"),
                                 invalidator("EncoderResetSource"), invalidator("LineMode"),
                                 writeAround()};

    s.push_back({"TriggerActivation", Kind::Enumeration, Access::RW, When::Always,
                 "Specifies the activation mode of the trigger"});
    s.back().entries = {{"RisingEdge", 1, {{"pIsAvailable", "IntLineTriggerSelected"}}},
                        {"FallingEdge", 2, {{"pIsAvailable", "IntLineTriggerSelected"}}},
                        {"LevelHigh", 3, {{"pIsAvailable", "IntFrameAndAcquisitionTriggerSelected"}}},
                        {"LevelLow", 4, {{"pIsAvailable", "IntFrameAndAcquisitionTriggerSelected"}}}};
    s.back().children = {displayName("Trigger Activation"), {"pIsAvailable", "IntTriggerActivationEnable1"}, locked(),
                         streamable()};
    s.back().registerChildren = {invalidator("LineInverter"), invalidator("TriggerSelector"),
                                 invalidator("TriggerSource"), writeAround()};

    s.push_back({"TriggerDelay", Kind::Integer, Access::RW, When::Always,
                 "Sets a constant delay in profile acquision in us, available only in Intern trigger mode, the "
                 "allowed value depends on the values of AquisitionLineRate and ExposureTime"});
    s.back().range = Range{0, 100000, 1};
    s.back().children = {displayName("Trigger Delay"), {"pIsAvailable", "IntTriggerSourceValue1"}, locked(),
                         streamable()};
    s.back().registerChildren = {writeAround(), invalidator("TriggerSelector")};

    s.push_back({"TriggerDivider", Kind::Integer, Access::RW, When::Always,
                 "Sets the division factor for the incomming trigger pulses. Works in SyncIn and Encoder trigger "
                 "source"});
    s.back().range = Range{0, 65535, 1};
    s.back().children = {displayName("Trigger Divider"), {"pIsAvailable", "IntTriggerSourceValue2"}, streamable(),
                         locked()};
    s.back().registerChildren = {writeAround(), invalidator("TriggerSelector")};

    s.push_back({"TriggerSoftware", Kind::Command, Access::WO, When::Always, "Generates a software trigger"});
    s.back().children = {{"CommandValue", "1"}, displayName("Trigger Software")};

    s.push_back({"AcquisitionStart", Kind::Default});
    s.back().children = {displayName("Acquisition Start")};
    s.push_back({"AcquisitionStop", Kind::Default});
    s.back().children = {displayName("Acquisition Stop")};
    return s;
}

std::vector<Feature> digitalIOControl()
{
    std::vector<Feature> s;
    s.push_back({"LineSelector", Kind::Enumeration, Access::RW, When::Always, "Selects which user I/O to configure"});
    s.back().entries = {{"Line1", 0}, {"Line2", 1}, {"Line3", 2}, {"Line4", 3}};
    s.back().children = {displayName("Line Selector"),
                         streamable(),
                         selected("LineMode"),
                         selected("LineInverter"),
                         selected("LineStatus", When::NotOrbalis),
                         selected("LineSource"),
                         selected("UserOutputValue"),
                         selected("OutputFunction"),
                         selected("InputLoad")};

    s.push_back({"LineMode", Kind::Enumeration, Access::RW, When::Always,
                 "Controls the selected line to be Input or Output"});
    s.back().entries = {{"Input", 0}, {"Output", 1}};
    s.back().children = {displayName("Line Mode"), streamable(), locked()};
    s.back().registerChildren = {writeAround(), invalidator("LineSelector"), invalidator("TriggerMode"),
                                 invalidator("TriggerSource")};

    s.push_back({"LineInverter", Kind::Boolean, Access::RW, When::Always,
                 "Controls the inversion of the signal of the selected line"});
    s.back().children = {displayName("Line Inverter"), streamable(), locked(), {"pIsAvailable", "IntLineMode"}};
    s.back().registerChildren = {invalidator("LineSelector"), invalidator("TriggerActivation"),
                                 invalidator("TriggerMode"), invalidator("TriggerSource"), writeAround()};

    s.push_back({"LineStatus", Kind::Boolean, Access::RO, When::Always, "Returns the current status of the selected line"});
    s.back().children = {displayName("Line Status")};
    s.back().registerChildren = {polled()};

    s.push_back({"LineSource", Kind::Enumeration, Access::RW, When::Always,
                 "Selects which output signal to output on the selected line"});
    s.back().entries = {{"UserOutput", 0}, {"Timer1Active", 1}, {"FrameEnd", 2, {invisible()}}};
    s.back().children = {displayName("Line Source"), streamable(), locked(), {"pIsAvailable", "LineMode"}};
    s.back().registerChildren = {invalidator("LineSelector"), invalidator("TriggerMode"), invalidator("TriggerSource")};

    s.push_back({"UserOutputValue", Kind::Boolean, Access::RW, When::Always,
                 "Sets the value of the line selected by LineSelector"});
    s.back().children = {displayName("User Output Value"), streamable(), {"pIsAvailable", "LineMode"}};
    s.back().registerChildren = {writeAround(), invalidator("LineSelector")};

    s.push_back({"OutputFunction", Kind::Enumeration, Access::RW, When::Always,
                 "Controls the current electrical format of the selected physical output Line"});
    s.back().entries = {{"Push_Pull", 1}, {"PNP", 2}, {"NPN", 3}};
    s.back().children = {displayName("Output Function"), streamable(), locked(), {"pIsAvailable", "LineMode"}};
    s.back().registerChildren = {writeAround(), invalidator("LineSelector")};

    s.push_back({"InputLoad", Kind::Boolean, Access::RW, When::Always,
                 "Controls the current electrical format of the selected physical input Line"});
    s.back().children = {displayName("Input Load"), streamable(), locked(), {"pIsAvailable", "IntLineMode"}};
    s.back().registerChildren = {writeAround(), invalidator("LineSelector")};

    for (Feature& f : s)
        f.children.insert(f.children.begin(), expert());

    s.push_back({"SyncOut", Kind::Integer, Access::RW, When::Always,
                 "Sets the width of the signal on SyncOut pin when the sensor is triggered in us"});
    s.back().range = Range{0, 100000, 1};
    s.back().value = Number(syncOut);
    s.back().children = {{"Streamable", "No"}, invisible(), {"pAlias", "TimerDuration"}};

    s.push_back({"SyncOutDelay", Kind::Integer, Access::RW, When::Always,
                 "Sets a constant delay between the tigger of the sensor and the SyncOut signal in us"});
    s.back().range = Range{0, 100000, 1};
    s.back().children = {{"Streamable", "No"}, invisible(), {"pAlias", "TimerDelay"}};
    return s;
}

std::vector<Feature> counterAndTimerControl()
{
    std::vector<Feature> s;
    s.push_back({"TimerSelector", Kind::Enumeration, Access::RW, When::Always,
                 "Selects which timer to configure, only Timer1 is now available. Timer1 is only used to control "
                 "SyncOut signal"});
    s.back().entries = {{"Timer1", 0}};
    s.back().value = Number(0);
    s.back().children = {displayName("Timer Selector"), streamable(), selected("TimerTriggerSource"),
                         selected("TimerDuration"), selected("TimerDelay")};

    s.push_back({"TimerTriggerSource", Kind::Enumeration, Access::RW, When::Always,
                 "Selects the source of the trigger to start the Timer"});
    s.back().entries = {{"LineTrigger", 0}};
    s.back().value = Number(0);
    s.back().children = {displayName("Timer Trigger Source"), locked()};

    s.push_back({"TimerDuration", Kind::Integer, Access::RW, When::Always, "Sets the Timer1 (SyncOut) Signal duration in us"});
    s.back().range = Range{0, 100000, 1};
    s.back().children = {displayName("Timer Duration"), streamable(), locked(), {"pAlias", "SyncOut"}};
    s.back().registerChildren = {writeAround()};

    s.push_back({"TimerDelay", Kind::Integer, Access::RW, When::Always,
                 "Sets the Timer1 (SyncOut) Signal delay from the line trigger event in us"});
    s.back().range = Range{0, 100000, 1};
    s.back().children = {displayName("Timer Delay"), locked(), {"pAlias", "SyncOutDelay"}};
    s.back().registerChildren = {writeAround()};

    for (Feature& f : s)
        f.children.insert(f.children.begin(), expert());
    return s;
}

std::vector<Feature> encoderControl()
{
    std::vector<Feature> s;
    s.push_back({"EncoderSelector", Kind::Enumeration, Access::RW, When::Always,
                 "Selects which encoder to configure. Encoder1 refers to HTL encoder and Encoder2 refers to TTL "
                 "encoder"});
    s.back().entries = {{"Encoder1", 0}, {"Encoder2", 1}};
    s.back().children = {displayName("Encoder Selector"),
                         streamable(),
                         selected("EncoderSourceA"),
                         selected("EncoderSourceB"),
                         selected("EncoderOutputMode"),
                         selected("EncoderResetSource"),
                         selected("EncoderValue", When::NotOrbalis),
                         selected("EncoderReset"),
                         selected("EncoderResetActivation")};

    const std::vector<Child> sourceChildren = {{"pIsAvailable", "IntEncoderSelectorValue1"}, locked(), streamable()};
    const std::vector<Child> sourceRegister = {invalidator("EncoderResetSource"), invalidator("TriggerSource"),
                                               writeAround()};
    s.push_back({"EncoderSourceA", Kind::Enumeration, Access::RW, When::Always,
                 "Selects the signal which will be the source of the A input of the HTL Encoder"});
    s.back().entries = {{"Off", 0}, {"Line1", 1}};
    s.back().value = Number(0);
    s.back().children = {displayName("Encoder Source A")};
    s.back().children.insert(s.back().children.end(), sourceChildren.begin(), sourceChildren.end());
    s.back().registerChildren = sourceRegister;

    s.push_back({"EncoderSourceB", Kind::Enumeration, Access::RW, When::Always,
                 "Selects the signal which will be the source of the B input of the HTL Encoder"});
    s.back().entries = {{"Off", 0}, {"Line2", 1}};
    s.back().value = Number(0);
    s.back().children = {displayName("Encoder Source B")};
    s.back().children.insert(s.back().children.end(), sourceChildren.begin(), sourceChildren.end());
    s.back().registerChildren = sourceRegister;

    s.push_back({"EncoderOutputMode", Kind::Enumeration, Access::RW, When::Always, "Selects which encoder to configure"});
    s.back().entries = {{"PositionUp", 3}, {"PositionDown", 4}, {"DirectionUp", 0}, {"DirectionDown", 1}, {"Motion", 2}};
    s.back().children = {displayName("Encoder Output Mode"), locked(), streamable()};

    s.push_back({"EncoderResetSource", Kind::Enumeration, Access::RW, When::Always,
                 "Selects the signals that will be the source to reset both Encoders"});
    s.back().entries = {{"Off", 0}, {"Line1", 1}, {"Line2", 2}, {"Line3", 3}, {"Line4", 4}};
    s.back().children = {displayName("Encoder Reset Source"), locked(), streamable()};
    s.back().registerChildren = {invalidator("TriggerSelector"), invalidator("EncoderSourceA"),
                                 invalidator("EncoderSourceB"), writeAround()};

    s.push_back({"EncoderResetActivation", Kind::Enumeration, Access::RW, When::Always,
                 "Selects the Activation mode of the Encoder Reset Source signal"});
    s.back().entries = {{"AnyEdge", 0}, {"RisingEdge", 1}, {"FallingEdge", 2}};
    s.back().children = {displayName("Encoder Reset Activation"), locked(), streamable(),
                         {"pIsAvailable", "EncoderResetSource"}};
    s.back().registerChildren = {writeAround()};

    s.push_back({"EncoderReset", Kind::Command, Access::WO, When::Always, "Reset both Encoders per Software command"});
    s.back().children = {{"CommandValue", "1"}, displayName("Encoder Reset")};

    s.push_back({"EncoderValue", Kind::Integer, Access::RO, When::Always, "Reads the current value of the selected encoder"});
    s.back().range = Range{0, 4294967294LL, 1};
    s.back().children = {displayName("Encoder Value")};
    s.back().registerChildren = {polled()};

    for (Feature& f : s)
        f.children.insert(f.children.begin(), expert());
    return s;
}

std::vector<Feature> signalControl()
{
    std::vector<Feature> s;
    s.push_back({"SignalEnable", Kind::Enumeration, Access::RW, When::Always, "Sets which signal to deliver to the output"});
    s.back().entries = {{"First", 1}, {"Second", 2}, {"First_and_Second", 3}};
    s.back().children = {displayName("Signal Enable")};

    s.push_back({"SignalSelection", Kind::Enumeration, Access::RW, When::Always,
                 "Sort the signals that are received on the camera chip according to one of the listed criteria"});
    s.back().entries = {{"Top", 0}, {"Strength", 1}, {"SignalWidth", 2}, {"Bottom", 3}};
    s.back().value = Number(signalSelection);
    s.back().children = {displayName("Signal Selection")};

    s.push_back({"SignalWidthMin", Kind::Integer, Access::RW, When::Always,
                 "Defines the minimum signal width to evaluate the signal in pixel"});
    s.back().range = Range{signalWidthMinMin, signalWidthMinMax, 1};
    s.back().children = {displayName("Signal Width Min")};

    s.push_back({"SignalWidthMax", Kind::Integer, Access::RW, When::Always,
                 "Defines the maximum signal width to evaluate the signal in pixel"});
    s.back().range = Range{signalWidthMaxMin, signalWidthMaxMax, 1};
    s.back().children = {displayName("Signal Width Max")};

    s.push_back({"SignalStrengthMin", Kind::Integer, Access::RW, When::Always,
                 "Defines the minimum signal strength to evaluate the signal"});
    s.back().range = Range{signalStrengthMinMin, signalStrengthMinMax, 1};
    s.back().children = {displayName("Signal Strength Min")};

    for (Feature& f : s) {
        f.children.insert(f.children.begin(), {expert(), locked(), streamable()});
        f.registerChildren.push_back(writeAround());
    }
    return s;
}

std::vector<Feature> scan3dControl()
{
    std::vector<Feature> s;
    s.push_back({"Scan3dCoordinateSelector", Kind::Enumeration, Access::RW, When::Always,
                 "Selects the individual axis for 3D information/transformation.\nCoordinateA is for X axis.\n"
                 "CoordinatrB is for Encoder (Y) axis.\nCoordinateC is for Z axis"});
    s.back().entries = {{"CoordinateA", 0}, {"CoordinateB", 1, {}, When::NotOrbalis}, {"CoordinateC", 2}};
    s.back().value = Number(0);
    s.back().children = {displayName("Scan 3d Coordinate Selector"),
                         selected("Scan3dCoordinateScale"),
                         selected("Scan3dCoordinateOffset"),
                         selected("Scan3dCoordinateSource"),
                         selected("Scan3dInvalidDataFlag"),
                         selected("Scan3dInvalidDataValue"),
                         selected("Scan3dAxisMin"),
                         selected("Scan3dAxisMax"),
                         selected("Scan3dDistanceUnit"),
                         selected("Scan3dCoordinateSystem")};

    for (const char* name : {"Scan3dCoordinateScaleMin", "Scan3dCoordinateScaleMax", "Scan3dCoordinateOffsetMin",
                             "Scan3dCoordinateOffsetMax"})
        s.push_back(limit(name, Kind::Float, {"Scan3dCoordinateSelector", "PixelFormat"}));

    const std::vector<Child> scaleRegister = {invalidator("Scan3dCoordinateSelector"), invalidator("PixelFormat"),
                                              writeAround()};
    s.push_back({"Scan3dCoordinateScale", Kind::Float, Access::RW, When::Always,
                 "Scale factor when transforming a pixel from relative coordinates to sensor coordinates"});
    s.back().removedChildren = {"Min", "Max"};
    s.back().children = {{"pMin", "regScan3dCoordinateScaleMin"}, {"pMax", "regScan3dCoordinateScaleMax"},
                         displayName("Scan 3d Coordinate Scale"), {"pIsLocked", "disablescaleandoffset"}};
    s.back().registerChildren = scaleRegister;

    s.push_back({"Scan3dCoordinateOffset", Kind::Float, Access::RW, When::Always,
                 "Offset factor when transforming a pixel from relative coordinates to sensor coordinates"});
    s.back().removedChildren = {"Min", "Max"};
    s.back().children = {{"pMin", "regScan3dCoordinateOffsetMin"}, {"pMax", "regScan3dCoordinateOffsetMax"},
                         displayName("Scan 3d Coordinate Offset"), {"pIsLocked", "disablescaleandoffset"}};
    s.back().registerChildren = scaleRegister;

    s.push_back({"Scan3dCoordinateSource", Kind::Enumeration, Access::RW, When::Always, "Source of the B (Y) axis"});
    s.back().entries = {{"Encoder", 0}, {"Timestamp", 1}};
    s.back().children = {displayName("Scan 3d Coordinate Source"), {"pIsAvailable", "IntScan3dCoordinateSelectorB"}};
    s.back().registerChildren = {invalidator("Scan3dCoordinateSelector")};

    struct AxisValue {
        const char* name;
        Kind kind;
        const char* displayName;
        const char* description;
    };
    static constexpr AxisValue kAxisValues[] = {
        {"Scan3dInvalidDataFlag", Kind::Boolean, "Scan 3d Invalid Data Flag",
         "Enables the definition of a non-valid flag value in the data stream"},
        {"Scan3dInvalidDataValue", Kind::Float, "Scan 3d Invalid Data Value",
         "Value which identifies a non-valid pixel if Scan3dInvalidDataFlag is enabled"},
        {"Scan3dAxisMin", Kind::Float, "Scan 3d Axis Min", "Minimum valid transmitted coordinate value of the selected axis"},
        {"Scan3dAxisMax", Kind::Float, "Scan 3d Axis Max", "Maximum valid transmitted coordinate value of the selected axis"},
    };
    for (const AxisValue& a : kAxisValues) {
        s.push_back({a.name, a.kind, Access::RO, When::Always, a.description});
        s.back().children = {displayName(a.displayName), {"pIsAvailable", "IntScan3dCoordinateSelector"}};
        s.back().registerChildren = {invalidator("Scan3dCoordinateSelector"), invalidator("PixelFormat")};
    }

    s.push_back({"Scan3dDistanceUnit", Kind::Enumeration, Access::RO, When::Always,
                 "Specifies the unit used when delivering (calibrated) distance data."});
    s.back().entries = {{"Millimeter", 0}};
    s.back().value = Number(0);

    s.push_back({"Scan3dCoordinateSystem", Kind::Enumeration, Access::RO, When::Always,
                 "Specifies the Coordinate system to use for the device"});
    s.back().entries = {{"Cartesian", 0}};
    s.back().value = Number(0);
    return s;
}

std::vector<Feature> deviceControl()
{
    std::vector<Feature> s;
    struct Text {
        const char* name;
        std::string (*value)(const Inputs&);
        const char* displayName;
    };
    static constexpr Text kTexts[] = {
        {"DeviceType", transmitter, "Device Type"},
        {"DeviceScanType", linescan3D, "Device Scan Type"},
        {"DeviceModelName", orderNumber, "Device Model Name"},
        {"DeviceVendorName", producer, "Device Vendor Name"},
        {"DeviceVersion", productVersion, "Device Version"},
        {"DeviceFirmwareVersion", firmwareVersion, "Device Firmware Version"},
        {"DeviceSerialNumber", serialNumber, "Device Serial Number"},
        {"DeviceTLType", gigEVision, "Device TL Type"},
    };
    for (const Text& t : kTexts) {
        s.push_back({t.name, Kind::String, Access::RO});
        s.back().text = t.value;
        s.back().children = {displayName(t.displayName)};
    }

    s.push_back({"DeviceTemperatureSelector", Kind::Enumeration, Access::RW, When::Always,
                 "Selects the location within the device, where the temperature will be measured"});
    s.back().entries = {{"CPU", 0}};
    s.back().value = Number(0);
    s.back().children = {displayName("Device Temperature Selector"), expert(), selected("DeviceTemperature")};

    s.push_back({"DeviceTemperature", Kind::Float, Access::RO, When::Always, "Device temperature in degrees Celsius (C)"});
    s.back().range = Range{0, 200};
    s.back().value = Number(temperature);
    s.back().children = {displayName("Device Temperature"), expert()};
    s.back().registerChildren = {polled()};

    s.push_back({"DeviceReset", Kind::Command, Access::WO, When::Always, "Resets the device to its power up state"});
    s.back().children = {{"CommandValue", "1"}, displayName("Device Reset"), {"Visibility", "Guru"}};

    s.push_back({"AsciiCommand", Kind::String, Access::RW});
    s.back().children = {{"Visibility", "Guru"}};

    s.push_back({"LaserOn", Kind::Command, Access::WO, When::Always, "Switch on the laser per software command"});
    s.back().children = {{"CommandValue", "1"}, invisible()};
    s.push_back({"LaserOff", Kind::Command, Access::WO, When::Always, "Switch off the laser per software command"});
    s.back().children = {{"CommandValue", "1"}, invisible()};
    return s;
}

std::vector<Feature> chunkDataControl()
{
    std::vector<Feature> s;
    s.push_back({"ChunkSelector", Kind::Default});
    s.back().children = {displayName("Chunk Selector")};
    s.push_back({"ChunkEnable", Kind::Default});
    s.back().children = {displayName("Chunk Enable"), locked()};

    s.push_back(limit("ScanLineSelectorMax", Kind::Integer, {"Height", "PixelFormat"}));

    s.push_back({"ChunkScanLineSelector", Kind::Integer, Access::RW, When::Always,
                 "Index for vector representation of one chunk value per line in the scan image."});
    s.back().removedChildren = {"Max"};
    s.back().children = {{"pMax", "regScanLineSelectorMax"}, displayName("Chunk Scan Line Selector"),
                         {"Visibility", "Invisible", When::OrbalisOnly}};
    s.back().registerChildren = {invalidator("ScanLineSelectorMax")};
    return s;
}

SwissKnife knife(const char* name, const char* category, std::vector<Variable> variables, const char* formula)
{
    return {name, category, std::move(variables), formula};
}

std::vector<Section> sections()
{
    constexpr const char* image = "ImageFormatControl";
    constexpr const char* acquisition = "AcquisitionControl";
    std::vector<Section> all;

    Feature lock{"TLParamsLocked", Kind::Integer, Access::RW};
    lock.range = Range{0, 1, 1};
    lock.value = Number(0);
    lock.children = {invisible()};
    all.push_back({"TLParamsLockedCategory", nullptr, {lock}});

    all.push_back({image, nullptr, imageFormatControl(),
                   {knife("IntMono16Available", image, {{"VAR1", "ComponentSelector"}}, "(VAR1=1)"),
                    knife("IntMono10Available", image, {{"VAR1", "ComponentSelector"}}, "(VAR1=0)"),
                    knife("IntRangeAvailable", image, {{"VAR1", "ComponentSelector"}}, "(VAR1=1)"),
                    knife("IntIsScna3DExtract0OrLocked", image,
                          {{"VAR2", "RegionSelector"}, {"VAR3", kLocked}}, "((VAR2=1)) || (VAR3 = 1)"),
                    knife("IntIsScna3DExtract0AndLocked", image,
                          {{"VAR2", "RegionSelector"}, {"VAR3", kLocked}}, "(VAR2=1) && (VAR3 = 1)")}});

    all.push_back(
        {acquisition, nullptr, acquisitionControl(),
         {knife("IntLineSourcesEnable", acquisition, {{"VAR1", "regTriggerSelector"}}, "(VAR1=0)?1:0"),
          knife("IntFrameSourcesEnable", acquisition, {{"VAR1", "regTriggerSelector"}}, "(VAR1=0)||(VAR1=1)?1:0"),
          knife("IntLineTriggerSelected", acquisition, {{"VAR1", "regTriggerSelector"}}, "(VAR1=0)?1:0"),
          knife("IntFrameAndAcquisitionTriggerSelected", acquisition, {{"VAR1", "regTriggerSelector"}},
                "(VAR1=2||VAR1=1)?1:0"),
          knife("IntTriggerActivationEnable1", acquisition, {{"VAR1", "regTriggerSource"}, {"VAR2", "TriggerMode"}},
                "((VAR1>=1)&&(VAR1<=4))&&(VAR2=1)?1:0"),
          knife("IntTriggerSourceValue1", acquisition, {{"VAR", "regTriggerSource"}}, "(VAR>=0)&&(VAR<=4)?1:0"),
          knife("IntTriggerSourceValue2", acquisition, {{"VAR1", "regTriggerSource"}, {"VAR2", "regTriggerSelector"}},
                "(VAR1>=1)&&(VAR1<=6)&&(VAR2=0)?1:0")}});

    all.push_back({"DigitalIOControl", nullptr, digitalIOControl(),
                   {knife("IntLineMode", "DigitalIOControl", {{"VAR", "regLineMode"}}, "VAR=0?1:0")}});
    all.push_back({"CounterAndTimerControl", nullptr, counterAndTimerControl()});
    all.push_back(
        {"EncoderControl", nullptr, encoderControl(),
         {knife("IntEncoderSelectorValue1", "EncoderControl", {{"VAR", "regEncoderSelector"}}, "VAR=0?1:0")}});
    all.push_back({"SignalControl", nullptr, signalControl()});
    all.push_back(
        {"Scan3dControl", nullptr, scan3dControl(),
         {knife("IntScan3dCoordinateSelector", "Scan3dControl", {{"VAR", "Scan3dCoordinateSelector"}}, "VAR=1?0:1"),
          knife("IntScan3dCoordinateSelectorB", "Scan3dControl", {{"VAR", "Scan3dCoordinateSelector"}}, "VAR=1?1:0"),
          knife("disablescaleandoffset", "Scan3dControl",
                {{"VAR1", "regRangePixelFormatMono16"}, {"VAR2", "Scan3dCoordinateSelector"}, {"VAR3", kLocked}},
                "(VAR3=1) || (VAR2 = 2) || ((VAR2 = 0) && (VAR1 = 0))")}});
    all.push_back({"DeviceControl", nullptr, deviceControl()});
    all.push_back({"ChunkDataControl", "Chunk Data Control", chunkDataControl()});
    return all;
}

}  // namespace

const std::vector<Category>& Categories()
{
    static const std::vector<Category> categories = {
        {"TLParamsLockedCategory", nullptr, true, "Invisible"},
        {"ImageFormatControl", "Image Format Control", false},
        {"AcquisitionControl", "Acquisition Control", false},
        {"TransportLayerControl", "Transport Layer Control", false},
        {"SourceControl", "Source Control", false},
        {"DigitalIOControl", "Digital IO Control"},
        {"CounterAndTimerControl", "Counter And Timer Control"},
        {"EncoderControl", "Encoder Control"},
        {"SignalControl", "Signal Control", true, "Expert"},
        {"Scan3dControl", "Scan 3D Control"},
        {"DeviceControl", "Device Control"},
    };
    return categories;
}

const std::vector<Section>& Sections()
{
    static const std::vector<Section> all = sections();
    return all;
}

bool IsRepeatedChild(const char* tag)
{
    return std::strcmp(tag, "pSelected") == 0 || std::strcmp(tag, "pInvalidator") == 0 ||
           std::strcmp(tag, "pVariable") == 0;
}

}  // namespace lumabridge::description
