#include "model/default_features.h"

#include "model/pixel_formats.h"

#include <stdexcept>
#include <string>

namespace Kivu {

namespace {

constexpr uint32_t RO = 1;
constexpr uint32_t RW = 3;

class Declarer {
public:
    explicit Declarer(FeatureDesc& d) : m_D(d) {}

    void check(uint32_t status, const char* name)
    {
        if (status != GevResult::Ok)
            throw std::runtime_error(std::string("Fatal error: can't declare default feature ") + name + "\n");
    }
    void category(const char* name, const char* parent = nullptr) { check(m_D.AddCategory(name, parent), name); }
    void feature(const char* tag, const char* name, const char* nameSpace, const char* category)
    {
        check(m_D.AddFeature(tag, name, nameSpace, category), name);
    }
    void text(const char* name, const char* tag, const char* value, bool append = false)
    {
        check(m_D.SetFeatureChildText(name, tag, value, append), name);
    }
    void signedReg(const char* name, int32_t value, uint32_t access)
    {
        check(m_D.AddIntRegSigned(name, value, access, 4), name);
    }
    void unsignedReg(const char* name, uint32_t value, uint32_t access)
    {
        check(m_D.AddIntRegUnsigned(name, value, access, true), name);
    }
    // Ranges in the width and sign of the register behind the feature.
    void range32(const char* name, int32_t min, int32_t max, int32_t inc)
    {
        check(m_D.SetChildInt32(name, "Min", min), name);
        check(m_D.SetChildInt32(name, "Max", max), name);
        if (inc != 0)
            check(m_D.SetChildInt32(name, "Inc", inc), name);
    }
    void rangeU32(const char* name, uint32_t min, uint32_t max, uint32_t inc)
    {
        check(m_D.SetChildUInt32(name, "Min", min), name);
        check(m_D.SetChildUInt32(name, "Max", max), name);
        check(m_D.SetChildUInt32(name, "Inc", inc), name);
    }
    void entry(const char* enumeration, const char* name, uint32_t value, bool available = true)
    {
        check(m_D.AddEnumEntry(enumeration, name, value), name);
        if (!available)
            check(m_D.SetEntryChildText(enumeration, name, "pIsAvailable", "False", false), name);
    }
    void invalidators(const char* reg, std::initializer_list<const char*> names)
    {
        for (const char* n : names)
            text(reg, "pInvalidator", n, true);
    }
    FeatureDesc& desc() { return m_D; }

private:
    FeatureDesc& m_D;
};

}  // namespace

void DeclareDefaultFeatures(FeatureDesc& desc)
{
    Declarer d(desc);
    d.category("ImageFormatControl");
    d.category("AcquisitionControl");
    d.category("TransportLayerControl");

    d.signedReg("regRegionSelector", 0, RW);
    d.feature("Enumeration", "RegionSelector", "Standard", "ImageFormatControl");
    d.text("RegionSelector", "Description", "Selects the region source to control");
    d.text("RegionSelector", "pValue", "regRegionSelector");
    for (const char* s : {"Width", "Height", "OffsetX", "OffsetY"})
        d.text("RegionSelector", "pSelected", s, true);
    d.entry("RegionSelector", "Region0", 0);
    d.entry("RegionSelector", "Scan3DExtraction0", 1, false);

    d.unsignedReg("regWidth", 640, RW);
    d.invalidators("regWidth", {"SourceSelector", "RegionSelector"});
    d.text("regWidth", "Cachable", "WriteAround");
    d.feature("Integer", "Width", "Standard", "ImageFormatControl");
    d.text("Width", "Description", "Width of the transmitted image in pixels (1 - SensorWidth)");
    d.text("Width", "pValue", "regWidth");
    d.check(desc.SetChildUInt32("Width", "Min", 1), "Width");
    d.text("Width", "pMax", "MaxWidth");
    d.check(desc.SetChildUInt32("Width", "Inc", 1), "Width");

    d.unsignedReg("regHeight", 480, RW);
    d.invalidators("regHeight", {"SourceSelector", "RegionSelector"});
    d.text("regHeight", "Cachable", "WriteAround");
    d.feature("Integer", "Height", "Standard", "ImageFormatControl");
    d.text("Height", "Description", "Height of the transmitted image in pixels (1 - SensorHeight)");
    d.text("Height", "pValue", "regHeight");
    d.check(desc.SetChildUInt32("Height", "Min", 1), "Height");
    d.text("Height", "pMax", "MaxHeight");
    d.check(desc.SetChildUInt32("Height", "Inc", 1), "Height");

    d.signedReg("regOffsetX", 0, RW);
    d.invalidators("regOffsetX", {"SourceSelector", "RegionSelector"});
    d.text("regOffsetX", "Cachable", "WriteAround");
    d.feature("Integer", "OffsetX", "Standard", "ImageFormatControl");
    d.text("OffsetX", "pValue", "regOffsetX");
    d.range32("OffsetX", 0, 4096, 1);
    d.text("OffsetX", "Description", "Horizontal offset from the topleft pixel of the sensor to the region of interest");

    d.signedReg("regOffsetY", 0, RW);
    d.invalidators("regOffsetY", {"SourceSelector", "RegionSelector"});
    d.text("regOffsetY", "Cachable", "WriteAround");
    d.feature("Integer", "OffsetY", "Standard", "ImageFormatControl");
    d.text("OffsetY", "Description", "Vertical offset from the topleft pixel of the sensor to the region of interest");
    d.text("OffsetY", "pValue", "regOffsetY");
    d.range32("OffsetY", 0, 4096, 1);

    d.signedReg("regPixelFormat", static_cast<int32_t>(PixelFormatTable()[0].code), RW);
    d.text("regPixelFormat", "Sign", "Unsigned");
    d.invalidators("regPixelFormat", {"SourceSelector", "RegionSelector"});
    d.feature("Enumeration", "PixelFormat", "Standard", "ImageFormatControl");
    d.text("PixelFormat", "Description", "Maximum streaming throughput of the device in bps [1000000000]");
    d.entry("PixelFormat", PixelFormatTable()[0].name, PixelFormatTable()[0].code);
    d.text("PixelFormat", "pValue", "regPixelFormat");

    d.unsignedReg("regPayloadSize", 307200, RO);
    d.invalidators("regPayloadSize", {"SourceSelector", "Width", "Height", "PixelFormat", "RegionSelector"});
    d.text("regPayloadSize", "Cachable", "NoCache");
    d.feature("Integer", "PayloadSize", "Standard", "TransportLayerControl");
    d.text("PayloadSize", "Description", "Size of the image payload in bytes");
    d.text("PayloadSize", "pValue", "regPayloadSize");
    d.rangeU32("PayloadSize", 4, 0x7FFFFFFF, 4);

    d.signedReg("regAcquisitionMode", 2, RW);
    d.feature("Enumeration", "AcquisitionMode", "Standard", "AcquisitionControl");
    d.text("AcquisitionMode", "Description", "Sets the acquisition mode of the device.");
    d.entry("AcquisitionMode", "Continuous", 2);
    d.text("AcquisitionMode", "pValue", "regAcquisitionMode");

    d.feature("Integer", "True", "Custom", nullptr);
    d.check(desc.SetChildInt32("True", "Value", 1), "True");
    d.range32("True", 0, 1, 0);
    d.feature("Integer", "False", "Custom", nullptr);
    d.check(desc.SetChildInt32("False", "Value", 0), "False");
    d.range32("False", 0, 1, 0);

    d.signedReg("regIsMultistreaming", 0, RO);
    d.feature("Integer", "IsMultistreaming", "Custom", nullptr);
    d.text("IsMultistreaming", "pValue", "regIsMultistreaming");
    d.range32("IsMultistreaming", 0, 1, 0);

    d.category("SourceControl");
    d.text("SourceControl", "pIsImplemented", "IsMultistreaming");

    d.signedReg("regSourceSelector", 0, RW);
    d.feature("Enumeration", "SourceSelector", "Standard", "SourceControl");
    d.text("SourceSelector", "Description", "Selects the video source to control");
    d.text("SourceSelector", "pValue", "regSourceSelector");
    for (uint32_t i = 0; i < 16; ++i)
        d.entry("SourceSelector", ("Source" + std::to_string(i)).c_str(), i, false);
    d.text("SourceSelector", "pIsImplemented", "IsMultistreaming");

    d.signedReg("regSourceCount", 1, RO);
    d.feature("Integer", "SourceCount", "Standard", "SourceControl");
    d.text("SourceCount", "Description", "Returns the number of available video sources [2]");
    d.text("SourceCount", "pValue", "regSourceCount");
    d.range32("SourceCount", 0, 16, 1);
    d.text("SourceCount", "pIsImplemented", "IsMultistreaming");

    d.signedReg("regSourceStreamChannel", 0, RO);
    d.text("regSourceStreamChannel", "Cachable", "NoCache");
    d.feature("Integer", "SourceStreamChannel", "Standard", "SourceControl");
    d.text("SourceStreamChannel", "Description",
           "Returns the index of the stream channel associated with the selected source");
    d.text("SourceStreamChannel", "pValue", "regSourceStreamChannel");
    d.range32("SourceStreamChannel", 0, 1, 1);
    d.text("SourceStreamChannel", "pIsImplemented", "IsMultistreaming");

    d.signedReg("regMaxWidth", 4096, RO);
    d.feature("Integer", "MaxWidth", "Custom", nullptr);
    d.text("MaxWidth", "pValue", "regMaxWidth");
    d.signedReg("regMaxHeight", 4096, RO);
    d.feature("Integer", "MaxHeight", "Custom", nullptr);
    d.text("MaxHeight", "pValue", "regMaxHeight");
}

}  // namespace Kivu
