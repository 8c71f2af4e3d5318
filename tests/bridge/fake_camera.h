#pragma once
// A hand-written camera for the bridge's unit tests: records each call as a line of text in
// a log that outlives the camera (its destructor writes "~"), answers with scripted results.
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gev_camera.h"

namespace lumabridge::test {

class CameraLog {
public:
    void Add(std::string call)
    {
        std::lock_guard lock(m_Mutex);
        m_Calls.push_back(std::move(call));
    }
    std::vector<std::string> Calls() const
    {
        std::lock_guard lock(m_Mutex);
        return m_Calls;
    }
    // The calls whose text begins with prefix, in order.
    std::vector<std::string> Matching(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const std::string& call : Calls())
            if (call.rfind(prefix, 0) == 0)
                out.push_back(call);
        return out;
    }
    size_t Count(const std::string& prefix) const { return Matching(prefix).size(); }

    // A call with a copy of the bytes it was given (the camera copies before it returns).
    void Add(std::string call, const void* data, size_t length)
    {
        const auto* bytes = static_cast<const uint8_t*>(data);
        std::lock_guard lock(m_Mutex);
        m_Data.emplace_back(m_Calls.size(),
                            bytes ? std::vector<uint8_t>(bytes, bytes + length) : std::vector<uint8_t>{});
        m_Calls.push_back(std::move(call));
    }
    // The bytes given to call number index (empty when none were kept).
    std::vector<uint8_t> Data(size_t index) const
    {
        std::lock_guard lock(m_Mutex);
        for (const auto& [call, bytes] : m_Data)
            if (call == index)
                return bytes;
        return {};
    }

private:
    mutable std::mutex m_Mutex;
    std::vector<std::string> m_Calls;
    std::vector<std::pair<size_t, std::vector<uint8_t>>> m_Data;
};

class FakeCamera : public CGevCamera {
public:
    explicit FakeCamera(std::shared_ptr<CameraLog> log) : m_Log(std::move(log)) {}
    ~FakeCamera() override { m_Log->Add("~"); }

    // Scripts, set before the code under test runs.
    uint32_t startResult = GevResult::Ok;
    std::vector<std::string> interfaces = {"127.0.0.1"};
    // Part and chunk data are kept in the log (CameraLog::Data) when set.
    bool keepFrameData = false;
    // Runs inside BeginFrame, on the caller's thread, as a client would act while it waits.
    std::function<void()> onBeginFrame;
    // Feature values by name: the getters answer from them (0 or "" when missing), the setters
    // store into them. GetStringValue fails, as the camera does, when the text does not fit.
    std::map<std::string, int64_t> integerValues;
    std::map<std::string, float> floatValues;
    std::map<std::string, std::string> stringValues;
    // While set, the part, chunk-size and region operations are refused as on a streaming camera.
    bool streaming = false;

    uint32_t Start(const char* ipv4) override { return rec("Start " + str(ipv4), startResult); }
    uint32_t Stop() override { return rec("Stop"); }

    uint32_t AddCategory(const char* name, const char* parent) override
    {
        return rec("AddCategory " + str(name) + " " + str(parent));
    }
    uint32_t AddRegisterFeature(int32_t kind, const char* name, const char* category, uint16_t access,
                                const char*, uint16_t) override
    {
        return rec("AddRegisterFeature " + std::to_string(kind) + " " + str(name) + " " + str(category) + " " +
                   std::to_string(access));
    }
    uint32_t AddFeatureNode(const char* type, const char* name, const char* category, uint16_t) override
    {
        return rec("AddFeatureNode " + str(type) + " " + str(name) + " " + str(category));
    }
    uint32_t AddEventSelectorFeatures(const char* category) override
    {
        return rec("AddEventSelectorFeatures " + str(category));
    }
    uint32_t AddEvent(uint16_t id, const char* name, const char*, bool, bool, bool) override
    {
        return rec("AddEvent " + std::to_string(id) + " " + str(name));
    }
    uint32_t AddEventDataFeature(const char* event, const char* name, uint16_t, uint32_t, uint32_t,
                                 const char*) override
    {
        return rec("AddEventDataFeature " + str(event) + " " + str(name));
    }
    uint32_t AddChunkSelectorFeatures(const char* category) override
    {
        return rec("AddChunkSelectorFeatures " + str(category));
    }
    uint32_t AddChunk(uint32_t id, const char* name, const char*, uint16_t, uint32_t, const char*) override
    {
        return rec("AddChunk " + std::to_string(id) + " " + str(name));
    }
    uint32_t AddChunkFeature(uint32_t id, const char* name, const char*, uint16_t kind, int32_t bytes,
                             const void*) override
    {
        return rec("AddChunkFeature " + std::to_string(id) + " " + str(name) + " " + std::to_string(kind) + " " +
                   std::to_string(bytes));
    }
    uint32_t RemoveFeature(const char* name) override { return rec("RemoveFeature " + str(name)); }

    uint32_t SetIntegerValue(const char* name, int64_t value) override
    {
        store(integerValues, name, value);
        return rec("SetIntegerValue " + str(name) + " " + std::to_string(value));
    }
    uint32_t SetFloatValue(const char* name, float value) override
    {
        store(floatValues, name, value);
        return rec("SetFloatValue " + str(name) + " " + std::to_string(value));
    }
    uint32_t SetStringValue(const char* name, const char* text) override
    {
        store(stringValues, name, str(text));
        return rec("SetStringValue " + str(name) + " " + str(text));
    }
    uint32_t SetEnumValue(const char* name, const char* entry) override
    {
        return rec("SetEnumValue " + str(name) + " " + str(entry));
    }
    uint32_t GetIntegerValue(const char* name, int64_t* out) override
    {
        if (out)
            *out = lookup(integerValues, name, int64_t{0});
        return rec("GetIntegerValue " + str(name));
    }
    uint32_t GetFloatValue(const char* name, float* out) override
    {
        if (out)
            *out = lookup(floatValues, name, 0.0f);
        return rec("GetFloatValue " + str(name));
    }
    uint32_t GetStringValue(const char* name, char* buffer, uint32_t size) override
    {
        const std::string text = lookup(stringValues, name, std::string());
        if (!buffer || size < text.size() + 1)
            return rec("GetStringValue " + str(name), GevResult::Fail);
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return rec("GetStringValue " + str(name));
    }
    uint32_t GetFeatureValueText(const char* name, const char** out) override
    {
        if (out)
            *out = "";
        return rec("GetFeatureValueText " + str(name));
    }

    uint32_t SetFeatureChildValue(const char* feature, const char* tag, const char* text, bool add) override
    {
        return rec("SetFeatureChildValue " + str(feature) + " " + str(tag) + " " + str(text) + (add ? " +" : ""));
    }
    uint32_t GetFeatureChildValue(const char* feature, const char* tag, const char** out) override
    {
        if (out)
            *out = "";
        return rec("GetFeatureChildValue " + str(feature) + " " + str(tag));
    }
    uint32_t SetFeatureChildAttribute(const char* feature, const char* tag, const char* text, const char* attr,
                                      const char* value) override
    {
        return rec("SetFeatureChildAttribute " + str(feature) + " " + str(tag) + " " + str(text) + " " + str(attr) +
                   " " + str(value));
    }
    uint32_t AddEnumEntry(const char* e, const char* entry, uint32_t value) override
    {
        return rec("AddEnumEntry " + str(e) + " " + str(entry) + " " + std::to_string(value));
    }
    uint32_t SetEnumEntryChildValue(const char* e, const char* entry, const char* tag, const char* text,
                                    bool) override
    {
        return rec("SetEnumEntryChildValue " + str(e) + " " + str(entry) + " " + str(tag) + " " + str(text));
    }
    uint32_t RemoveFeatureChild(const char* feature, const char* tag, const char* text) override
    {
        return rec("RemoveFeatureChild " + str(feature) + " " + str(tag) + " " + str(text));
    }
    uint32_t RemoveEnumEntry(const char* e, const char* entry) override
    {
        return rec("RemoveEnumEntry " + str(e) + " " + str(entry));
    }
    const char* const* GetEnumEntryTable(const char* e, uint32_t* count) override
    {
        rec("GetEnumEntryTable " + str(e));
        if (count)
            *count = 0;
        return nullptr;
    }
    uint32_t SetFloatRange(const char* name, float min, float max) override
    {
        return rec("SetFloatRange " + str(name) + " " + std::to_string(min) + " " + std::to_string(max));
    }
    uint32_t SetIntegerRange(const char* name, int64_t min, int64_t max, uint64_t inc) override
    {
        return rec("SetIntegerRange " + str(name) + " " + std::to_string(min) + " " + std::to_string(max) + " " +
                   std::to_string(inc));
    }
    uint32_t GetIntegerRange(const char* name, int64_t*, int64_t*, uint32_t*) override
    {
        return rec("GetIntegerRange " + str(name), GevResult::Fail);
    }
    uint32_t GetFloatRange(const char* name, float*, float*) override
    {
        return rec("GetFloatRange " + str(name), GevResult::Fail);
    }
    uint32_t SetFeatureDescription(const char* name, const char* text) override
    {
        return rec("SetFeatureDescription " + str(name) + " " + str(text));
    }
    uint32_t GetFeatureAddress(const char* name, uint32_t*) override
    {
        return rec("GetFeatureAddress " + str(name), GevResult::NotFound);
    }
    uint32_t GetFeatureType(const char* name, uint32_t*) override
    {
        return rec("GetFeatureType " + str(name), GevResult::NotFound);
    }
    uint32_t GetFeatureAccessMode(const char* name, uint32_t*) override
    {
        return rec("GetFeatureAccessMode " + str(name), GevResult::NoAccess);
    }
    uint32_t SetFeatureAccessMode(const char* name, uint32_t mode) override
    {
        return rec("SetFeatureAccessMode " + str(name) + " " + std::to_string(mode));
    }

    uint32_t WriteRegister(uint32_t address, uint32_t value) override
    {
        return rec("WriteRegister " + hex(address) + " " + hex(value));
    }
    uint32_t ReadRegister(uint32_t address, uint32_t* value) override
    {
        if (value)
            *value = 0;
        return rec("ReadRegister " + hex(address));
    }
    uint32_t WriteMemory(uint32_t address, const void*, uint32_t length) override
    {
        return rec("WriteMemory " + hex(address) + " " + std::to_string(length));
    }
    uint32_t ReadMemory(uint32_t address, void*, uint32_t length) override
    {
        return rec("ReadMemory " + hex(address) + " " + std::to_string(length), GevResult::Fail);
    }

    uint32_t SendEvent(uint16_t id, uint16_t channel, bool ack) override
    {
        return rec("SendEvent " + std::to_string(id) + " " + std::to_string(channel) + (ack ? " ack" : ""));
    }
    uint32_t SendEvents(uint32_t count, const uint16_t*, uint16_t, bool) override
    {
        return rec("SendEvents " + std::to_string(count));
    }
    uint32_t SendEventData(uint16_t id, const void* data, uint32_t length, uint16_t channel, bool ack) override
    {
        return rec("SendEventData " + std::to_string(id) + " \"" +
                   std::string(static_cast<const char*>(data), length) + "\" " + std::to_string(channel) +
                   (ack ? " ack" : ""));
    }

    int32_t GetNetworkInterfaceCount() override
    {
        rec("GetNetworkInterfaceCount");
        return static_cast<int32_t>(interfaces.size());
    }
    uint32_t GetNetworkInterfaceIp(uint32_t index, char ip[16]) override
    {
        rec("GetNetworkInterfaceIp " + std::to_string(index));
        if (index >= interfaces.size())
            return GevResult::InvalidArgument;
        std::snprintf(ip, 16, "%s", interfaces[index].c_str());
        return GevResult::Ok;
    }
    uint32_t GetNetworkInterfaceInfo(uint32_t index, NetworkInterfaceInfo*) override
    {
        return rec("GetNetworkInterfaceInfo " + std::to_string(index), GevResult::Fail);
    }
    uint32_t GetStreamChannelCount(uint32_t* count) override
    {
        if (count)
            *count = 1;
        return rec("GetStreamChannelCount");
    }
    bool IsRunning() override
    {
        rec("IsRunning");
        return false;
    }

    uint32_t BeginFrame(int32_t channel) override
    {
        if (onBeginFrame)
            onBeginFrame();
        return rec("BeginFrame " + std::to_string(channel), GevResult::NotRunning);
    }
    uint32_t SendImage(uint8_t*, uint32_t channel, uint32_t lines) override
    {
        return rec("SendImage " + std::to_string(channel) + " " + std::to_string(lines));
    }
    uint32_t SendData(uint8_t*, uint64_t size, uint32_t channel) override
    {
        return rec("SendData " + std::to_string(size) + " " + std::to_string(channel));
    }

    uint32_t SetCompressionMode(uint16_t mode, int32_t channel) override
    {
        return rec("SetCompressionMode " + std::to_string(mode) + " " + std::to_string(channel));
    }
    uint32_t SetCompressionParameters(uint32_t quality, uint32_t bitrate, int32_t channel) override
    {
        return rec("SetCompressionParameters " + std::to_string(quality) + " " + std::to_string(bitrate) + " " +
                   std::to_string(channel));
    }
    uint32_t SetStreamChannelCount(uint32_t count) override
    {
        return rec("SetStreamChannelCount " + std::to_string(count));
    }
    uint32_t SetSourceCount(uint32_t count) override { return rec("SetSourceCount " + std::to_string(count)); }
    uint32_t SetRegionMode(uint32_t mode, int32_t channel) override
    {
        return rec("SetRegionMode " + std::to_string(mode) + " " + std::to_string(channel));
    }
    uint32_t SetGevMode(uint16_t mode) override { return rec("SetGevMode " + std::to_string(mode)); }
    uint32_t SetTimestampMode(uint16_t mode, int32_t channel) override
    {
        return rec("SetTimestampMode " + std::to_string(mode) + " " + std::to_string(channel));
    }
    uint32_t SetMaxImageSize(uint32_t width, uint32_t height) override
    {
        return rec("SetMaxImageSize " + std::to_string(width) + " " + std::to_string(height));
    }
    uint32_t SetPayloadType(uint16_t type, int32_t channel) override
    {
        return rec("SetPayloadType " + std::to_string(type) + " " + std::to_string(channel));
    }

    uint32_t SetFeatureReadCallback(void* context, FeatureReadCallback fn) override
    {
        std::lock_guard lock(m_Mutex);
        readContext = context;
        readCallback = fn;
        return rec("SetFeatureReadCallback");
    }
    uint32_t SetFeatureWriteCallback(void* context, FeatureWriteCallback fn) override
    {
        std::lock_guard lock(m_Mutex);
        writeContext = context;
        writeCallback = fn;
        return rec("SetFeatureWriteCallback");
    }
    uint32_t SetActionCallback(void*, ActionCallback) override { return rec("SetActionCallback"); }
    uint32_t SetScheduledActionCallback(void*, ActionCallback) override { return rec("SetScheduledActionCallback"); }
    uint32_t SetClientConnectionCallback(void* context, ClientConnectionCallback fn) override
    {
        std::lock_guard lock(m_Mutex);
        connectionContext = context;
        connectionCallback = fn;
        return rec("SetClientConnectionCallback");
    }
    uint32_t SetActionSignalCount(uint32_t count) override
    {
        return rec("SetActionSignalCount " + std::to_string(count));
    }
    uint32_t SetChannelChangeCallback(void*, int32_t channel, ChannelChangeCallback) override
    {
        return rec("SetChannelChangeCallback " + std::to_string(channel));
    }

    uint32_t AddChunkData(uint8_t*, const void* data, uint32_t length, uint32_t id, uint32_t channel) override
    {
        return recData("AddChunkData " + std::to_string(length) + " " + hex(id) + " " + std::to_string(channel),
                       data, length);
    }

    uint32_t AddPixelFormatEx(const char* name, const char* implemented, const char* available) override
    {
        return rec("AddPixelFormatEx " + str(name) + " " + str(implemented) + " " + str(available));
    }
    uint32_t AddPixelFormat(const char* name) override { return rec("AddPixelFormat " + str(name)); }
    uint32_t SetImageSize(uint32_t width, uint32_t height, int32_t channel) override
    {
        return rec("SetImageSize " + std::to_string(width) + " " + std::to_string(height) + " " +
                   std::to_string(channel));
    }
    uint32_t SetImageOffset(uint32_t x, uint32_t y, int32_t channel) override
    {
        return rec("SetImageOffset " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(channel));
    }
    uint32_t SetRegionPixelFormat(const char* name, uint32_t source, uint32_t region, int32_t channel) override
    {
        return rec("SetRegionPixelFormat " + str(name) + " " + std::to_string(source) + " " +
                       std::to_string(region) + " " + std::to_string(channel),
                   streamingResult());
    }
    uint32_t SetPixelFormatValue(uint32_t value, int32_t channel) override
    {
        return rec("SetPixelFormatValue " + hex(value) + " " + std::to_string(channel));
    }
    uint32_t SetPixelFormat(const char* name, int32_t channel) override
    {
        return rec("SetPixelFormat " + str(name) + " " + std::to_string(channel));
    }
    uint32_t SetChunkPayloadSize(uint32_t bytes, uint32_t count, int32_t channel) override
    {
        return rec("SetChunkPayloadSize " + std::to_string(bytes) + " " + std::to_string(count) + " " +
                       std::to_string(channel),
                   streamingResult());
    }
    uint32_t GetChunkPayloadSize(uint32_t* out, int32_t channel) override
    {
        if (out)
            *out = 0;
        return rec("GetChunkPayloadSize " + std::to_string(channel));
    }
    uint32_t GetWidth(int32_t channel) override { return rec("GetWidth " + std::to_string(channel), 0); }
    uint32_t GetHeight(int32_t channel) override { return rec("GetHeight " + std::to_string(channel), 0); }
    const char* GetPixelFormatName(int32_t channel) override
    {
        rec("GetPixelFormatName " + std::to_string(channel));
        return "Mono8";
    }
    uint32_t GetPixelFormat(int32_t channel) override { return rec("GetPixelFormat " + std::to_string(channel), 0); }
    const char* PixelFormatNameOf(uint32_t value) override
    {
        rec("PixelFormatNameOf " + hex(value));
        return nullptr;
    }
    uint32_t PixelFormatValueOf(const char* name) override { return rec("PixelFormatValueOf " + str(name), 0); }
    uint32_t GetOffsetX(int32_t channel) override { return rec("GetOffsetX " + std::to_string(channel), 0); }
    uint32_t GetOffsetY(int32_t channel) override { return rec("GetOffsetY " + std::to_string(channel), 0); }
    uint32_t GetPayloadSize(int32_t channel) override { return rec("GetPayloadSize " + std::to_string(channel), 0); }
    uint32_t GetSourceIndex(int32_t channel) override { return rec("GetSourceIndex " + std::to_string(channel), 0); }

    uint32_t SetPersistentIp(const char* ip, const char* mask, const char* gateway) override
    {
        return rec("SetPersistentIp " + str(ip) + " " + str(mask) + " " + str(gateway));
    }
    uint32_t GetCurrentIp(char ip[16], char mask[16], char gateway[16]) override
    {
        ip[0] = mask[0] = gateway[0] = '\0';
        return rec("GetCurrentIp");
    }
    uint32_t SetMacAddress(const char* text) override { return rec("SetMacAddress " + str(text)); }
    uint32_t GetMacAddress(char out[13]) override
    {
        out[0] = '\0';
        return rec("GetMacAddress");
    }
    uint32_t SetDeviceIdentity(const char* manufacturer, const char* model, const char* version, const char* info,
                               const char* serial) override
    {
        return rec("SetDeviceIdentity " + str(manufacturer) + "|" + str(model) + "|" + str(version) + "|" +
                   str(info) + "|" + str(serial));
    }

    uint32_t SetSimulationParameters(const SimulationParameters*) override { return rec("SetSimulationParameters"); }
    uint32_t ConvertPixels(const void*, void*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                           uint32_t) override
    {
        return rec("ConvertPixels", GevResult::Fail);
    }
    uint32_t LatchTimestamp() override { return rec("LatchTimestamp"); }
    uint32_t SetUserDefinedName(const char* text) override { return rec("SetUserDefinedName " + str(text)); }

    uint32_t SendImageEx(uint8_t*, uint16_t flags, int32_t channel, uint32_t lines) override
    {
        return rec("SendImageEx " + std::to_string(flags) + " " + std::to_string(channel) + " " +
                   std::to_string(lines));
    }
    uint32_t SendDataEx(uint8_t*, uint16_t flags, uint64_t size, uint32_t channel) override
    {
        return rec("SendDataEx " + std::to_string(flags) + " " + std::to_string(size) + " " +
                   std::to_string(channel));
    }

    uint32_t SetRegionWidth(uint32_t value, uint32_t source, uint32_t region, int32_t channel) override
    {
        return rec("SetRegionWidth " + region4(value, source, region, channel));
    }
    uint32_t SetRegionHeight(uint32_t value, uint32_t source, uint32_t region, int32_t channel) override
    {
        return rec("SetRegionHeight " + region4(value, source, region, channel));
    }
    uint32_t SetRegionOffsetX(uint32_t value, uint32_t source, uint32_t region, int32_t channel) override
    {
        return rec("SetRegionOffsetX " + region4(value, source, region, channel));
    }
    uint32_t SetRegionOffsetY(uint32_t value, uint32_t source, uint32_t region, int32_t channel) override
    {
        return rec("SetRegionOffsetY " + region4(value, source, region, channel));
    }
    uint32_t ApplyRegionSettings(int32_t channel) override
    {
        return rec("ApplyRegionSettings " + std::to_string(channel), 1);
    }

    uint32_t UpdateImagePart(PartDescriptor part) override
    {
        return rec("UpdateImagePart " + describe(part), streamingResult());
    }
    uint32_t SetImagePartData(ImagePartBuffer data, uint32_t size, PartDescriptor part) override
    {
        return recData("SetImagePartData " + std::to_string(size) + " " + describe(part), data.get(), size);
    }
    uint32_t RemoveImagePart(PartDescriptor part) override
    {
        return rec("RemoveImagePart " + describe(part), streamingResult());
    }
    uint32_t SetFrameTimestamp(uint64_t timestamp) override
    {
        return rec("SetFrameTimestamp " + std::to_string(timestamp));
    }

    // The callbacks the code under test registered, for playing the camera's threads.
    bool Read(const char* name) { return readCallback(readContext, name); }
    bool Write(const char* name) { return writeCallback(writeContext, name); }
    void ClientConnection(bool connected) { connectionCallback(connectionContext, connected); }

    // "index key1 key2 key3 width x height type format"
    static std::string describe(const PartDescriptor& p)
    {
        return std::to_string(p.componentIndex) + " " + std::to_string(p.key1) + " " + std::to_string(p.key2) + " " +
               std::to_string(p.key3) + " " + std::to_string(p.width) + "x" + std::to_string(p.height) + " " +
               std::to_string(p.dataType) + " " + p.pixelFormatName;
    }

private:
    uint32_t rec(std::string call, uint32_t result = GevResult::Ok)
    {
        m_Log->Add(std::move(call));
        return result;
    }
    uint32_t recData(std::string call, const void* data, size_t length)
    {
        if (keepFrameData)
            m_Log->Add(std::move(call), data, length);
        else
            m_Log->Add(std::move(call));
        return GevResult::Ok;
    }
    static std::string str(const char* s) { return s ? s : "(null)"; }
    uint32_t streamingResult() const { return streaming ? GevResult::Running : GevResult::Ok; }
    template <class T>
    void store(std::map<std::string, T>& values, const char* name, T value)
    {
        std::lock_guard lock(m_Mutex);
        values[str(name)] = std::move(value);
    }
    template <class T>
    T lookup(const std::map<std::string, T>& values, const char* name, T missing)
    {
        std::lock_guard lock(m_Mutex);
        auto it = values.find(str(name));
        return it == values.end() ? missing : it->second;
    }
    static std::string hex(uint32_t v)
    {
        char text[16];
        std::snprintf(text, sizeof text, "0x%X", v);
        return text;
    }
    static std::string region4(uint32_t value, uint32_t source, uint32_t region, int32_t channel)
    {
        return std::to_string(value) + " " + std::to_string(source) + " " + std::to_string(region) + " " +
               std::to_string(channel);
    }

    std::shared_ptr<CameraLog> m_Log;
    std::mutex m_Mutex;
    void* readContext = nullptr;
    FeatureReadCallback readCallback = nullptr;
    void* writeContext = nullptr;
    FeatureWriteCallback writeCallback = nullptr;
    void* connectionContext = nullptr;
    ClientConnectionCallback connectionCallback = nullptr;
};

}  // namespace lumabridge::test
