#pragma once
// The camera: the CGevCamera operations over the device's registers, feature
// description, control protocol and host adapters.
#include "server/camera_base.h"
#include "server/camera_channel.h"
#include "server/camera_geometry.h"
#include "server/control_protocol.h"
#include "server/message_protocol.h"
#include "server/netif.h"
#include "server/stream/gvsp_chunks.h"
#include "server/stream/stream_channels.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Kivu {

class Camera : public CameraBase {
public:
    // Lists the host's adapters through net (the Linux platform when null).
    explicit Camera(std::shared_ptr<INetPlatform> net = nullptr);
    // Stops first, waiting for handlers in flight and for the camera lock.
    ~Camera() override;

    uint32_t Start(const char* ipv4) override;
    uint32_t Stop() override;
    uint32_t AddCategory(const char* name, const char* parentCategory) override;
    uint32_t AddRegisterFeature(int32_t kind, const char* name, const char* category, uint16_t accessMode, const char* description, uint16_t standardNamespace) override;
    uint32_t AddFeatureNode(const char* elementType, const char* name, const char* category, uint16_t nameSpace) override;
    uint32_t AddEventSelectorFeatures(const char* category) override;
    uint32_t AddEvent(uint16_t eventId, const char* eventName, const char* category, bool withTimestamp, bool withStreamChannelId, bool withFrameId) override;
    uint32_t AddEventDataFeature(const char* eventName, const char* featureName, uint16_t kind, uint32_t offset, uint32_t length, const char* description) override;
    uint32_t AddChunkSelectorFeatures(const char* category) override;
    uint32_t AddChunk(uint32_t chunkId, const char* name, const char* category, uint16_t kind, uint32_t length, const char* description) override;
    uint32_t AddChunkFeature(uint32_t chunkId, const char* name, const char* category, uint16_t kind, int32_t bytesPerValue, const void* extra) override;
    uint32_t RemoveFeature(const char* name) override;
    uint32_t SetIntegerValue(const char* name, int64_t value) override;
    uint32_t SetFloatValue(const char* name, float value) override;
    uint32_t SetStringValue(const char* name, const char* text) override;
    uint32_t SetEnumValue(const char* name, const char* entryName) override;
    uint32_t GetIntegerValue(const char* name, int64_t* out) override;
    uint32_t GetFloatValue(const char* name, float* out) override;
    uint32_t GetStringValue(const char* name, char* buffer, uint32_t bufferSize) override;
    uint32_t GetFeatureValueText(const char* name, const char** out) override;
    uint32_t SetFeatureChildValue(const char* feature, const char* childTag, const char* text, bool addAnother) override;
    uint32_t GetFeatureChildValue(const char* feature, const char* childTag, const char** out) override;
    uint32_t SetFeatureChildAttribute(const char* feature, const char* childTag, const char* childText, const char* attrName, const char* attrValue) override;
    uint32_t AddEnumEntry(const char* enumName, const char* entryName, uint32_t value) override;
    uint32_t SetEnumEntryChildValue(const char* enumName, const char* entryName, const char* childTag, const char* text, bool addAnother) override;
    uint32_t RemoveFeatureChild(const char* feature, const char* childTag, const char* text) override;
    uint32_t RemoveEnumEntry(const char* enumName, const char* entryName) override;
    const char* const* GetEnumEntryTable(const char* enumName, uint32_t* count) override;
    uint32_t SetFloatRange(const char* name, float min, float max) override;
    uint32_t SetIntegerRange(const char* name, int64_t min, int64_t max, uint64_t increment) override;
    uint32_t GetIntegerRange(const char* name, int64_t* min, int64_t* max, uint32_t* increment) override;
    uint32_t GetFloatRange(const char* name, float* min, float* max) override;
    uint32_t SetFeatureDescription(const char* name, const char* text) override;
    uint32_t GetFeatureAddress(const char* name, uint32_t* address) override;
    uint32_t GetFeatureType(const char* name, uint32_t* type) override;
    uint32_t GetFeatureAccessMode(const char* name, uint32_t* mode) override;
    uint32_t SetFeatureAccessMode(const char* name, uint32_t mode) override;
    uint32_t WriteRegister(uint32_t address, uint32_t value) override;
    uint32_t ReadRegister(uint32_t address, uint32_t* value) override;
    uint32_t WriteMemory(uint32_t address, const void* data, uint32_t length) override;
    uint32_t ReadMemory(uint32_t address, void* data, uint32_t length) override;
    uint32_t SendEvent(uint16_t eventId, uint16_t streamChannel, bool requestAck) override;
    uint32_t SendEvents(uint32_t count, const uint16_t* eventIds, uint16_t streamChannel, bool requestAck) override;
    uint32_t SendEventData(uint16_t eventId, const void* data, uint32_t length, uint16_t streamChannel, bool requestAck) override;
    int32_t GetNetworkInterfaceCount() override;
    uint32_t GetNetworkInterfaceIp(uint32_t index, char ip[16]) override;
    uint32_t GetNetworkInterfaceInfo(uint32_t index, NetworkInterfaceInfo* out) override;
    uint32_t GetStreamChannelCount(uint32_t* count) override;
    bool IsRunning() override;
    uint32_t BeginFrame(int32_t channel) override;
    uint32_t SendImage(uint8_t* frameBuffer, uint32_t channel, uint32_t lines) override;
    uint32_t SendData(uint8_t* buffer, uint64_t size, uint32_t channel) override;
    uint32_t SetCompressionMode(uint16_t mode, int32_t channel) override;
    uint32_t SetCompressionParameters(uint32_t quality, uint32_t bitrate, int32_t channel) override;
    uint32_t SetStreamChannelCount(uint32_t count) override;
    uint32_t SetSourceCount(uint32_t count) override;
    uint32_t SetRegionMode(uint32_t mode, int32_t channel) override;
    uint32_t SetGevMode(uint16_t mode) override;
    uint32_t SetTimestampMode(uint16_t mode, int32_t channel) override;
    uint32_t SetMaxImageSize(uint32_t maxWidth, uint32_t maxHeight) override;
    uint32_t SetPayloadType(uint16_t payloadType, int32_t channel) override;
    uint32_t SetFeatureReadCallback(void* context, FeatureReadCallback fn) override;
    uint32_t SetFeatureWriteCallback(void* context, FeatureWriteCallback fn) override;
    uint32_t SetActionCallback(void* context, ::ActionCallback fn) override;
    uint32_t SetScheduledActionCallback(void* context, ::ActionCallback fn) override;
    uint32_t SetClientConnectionCallback(void* context, ::ClientConnectionCallback fn) override;
    uint32_t SetActionSignalCount(uint32_t count) override;
    uint32_t SetChannelChangeCallback(void* context, int32_t channel, ChannelChangeCallback fn) override;
    uint32_t AddChunkData(uint8_t* frameBuffer, const void* data, uint32_t length, uint32_t chunkId, uint32_t channel) override;
    uint32_t AddPixelFormatEx(const char* pfncName, const char* pIsImplemented, const char* pIsAvailable) override;
    uint32_t AddPixelFormat(const char* pfncName) override;
    uint32_t SetImageSize(uint32_t width, uint32_t height, int32_t channel) override;
    uint32_t SetImageOffset(uint32_t x, uint32_t y, int32_t channel) override;
    uint32_t SetRegionPixelFormat(const char* pfncName, uint32_t source, uint32_t region, int32_t channel) override;
    uint32_t SetPixelFormatValue(uint32_t pfncValue, int32_t channel) override;
    uint32_t SetPixelFormat(const char* pfncName, int32_t channel) override;
    uint32_t SetChunkPayloadSize(uint32_t chunkBytes, uint32_t chunkCount, int32_t channel) override;
    uint32_t GetChunkPayloadSize(uint32_t* out, int32_t channel) override;
    uint32_t GetWidth(int32_t channel) override;
    uint32_t GetHeight(int32_t channel) override;
    const char* GetPixelFormatName(int32_t channel) override;
    uint32_t GetPixelFormat(int32_t channel) override;
    const char* PixelFormatNameOf(uint32_t pfncValue) override;
    uint32_t PixelFormatValueOf(const char* pfncName) override;
    uint32_t GetOffsetX(int32_t channel) override;
    uint32_t GetOffsetY(int32_t channel) override;
    uint32_t GetPayloadSize(int32_t channel) override;
    uint32_t GetSourceIndex(int32_t channel) override;
    uint32_t SetPersistentIp(const char* ip, const char* mask, const char* gateway) override;
    uint32_t GetCurrentIp(char ip[16], char mask[16], char gateway[16]) override;
    uint32_t SetMacAddress(const char* text) override;
    uint32_t GetMacAddress(char out[13]) override;
    uint32_t SetDeviceIdentity(const char* manufacturer, const char* model, const char* deviceVersion, const char* manufacturerInfo, const char* serialNumber) override;
    uint32_t SetSimulationParameters(const SimulationParameters* parameters) override;
    uint32_t ConvertPixels(const void* source, void* destination, uint32_t width, uint32_t height, uint32_t sourceFormat, uint32_t destinationFormat, uint32_t shift, uint32_t reserved, uint32_t outputWidth, uint32_t outputHeight) override;
    uint32_t LatchTimestamp() override;
    uint32_t SetUserDefinedName(const char* text) override;
    uint32_t SendImageEx(uint8_t* frameBuffer, uint16_t flags, int32_t channel, uint32_t lines) override;
    uint32_t SendDataEx(uint8_t* buffer, uint16_t flags, uint64_t size, uint32_t channel) override;
    uint32_t SetRegionWidth(uint32_t value, uint32_t source, uint32_t region, int32_t channel) override;
    uint32_t SetRegionHeight(uint32_t value, uint32_t source, uint32_t region, int32_t channel) override;
    uint32_t SetRegionOffsetX(uint32_t value, uint32_t source, uint32_t region, int32_t channel) override;
    uint32_t SetRegionOffsetY(uint32_t value, uint32_t source, uint32_t region, int32_t channel) override;
    uint32_t ApplyRegionSettings(int32_t channel) override;
    uint32_t UpdateImagePart(PartDescriptor part) override;
    uint32_t SetImagePartData(ImagePartBuffer data, uint32_t size, PartDescriptor part) override;
    uint32_t RemoveImagePart(PartDescriptor part) override;
    uint32_t SetFrameTimestamp(uint64_t timestamp) override;

    // Internal: the control protocol, for serving options in tests.
    ControlProtocol& Control() { return m_Control; }
    StreamChannels& Streams() { return *m_Streams; }
    MessageProtocol& Messages() { return *m_Messages; }
    const std::vector<AdapterRecord>& Adapters() const { return m_Adapters; }

private:
    friend class ImageRegisterHooks;

    template <class T>
    struct Handler {
        void* context = nullptr;
        T function = nullptr;
    };

    // Handlers: the user's functions run only while the gate is open, counted
    // while they run, and marked so that they cannot Start or Stop the camera.
    template <class Call>
    bool runHandler(bool closedResult, Call&& call);
    void openHandlers();
    void closeHandlers();
    bool onHandlerThread() const;
    static bool featureRead(void* self, const char* name);
    static bool featureWrite(void* self, const char* name);
    static bool action(void* self, const ActionCommandInfo* info);
    static bool scheduledAction(void* self, const ActionCommandInfo* info);
    static void clientConnection(void* self, bool connected);
    static bool callAction(const Handler<::ActionCallback>& handler, const ActionCommandInfo* info);

    // Start steps.
    const AdapterRecord* chooseAdapter(uint32_t ip, uint32_t& served) const;
    void writeAdapterRegisters(const AdapterRecord& adapter, uint32_t served);
    bool publishXml();
    bool writeFirstUrl(uint32_t length);
    void declareAcquisitionCommands();

    bool running();
    ChannelSettings* channel(int64_t ch);
    std::shared_ptr<UIntReg> uintReg(uint32_t address) const { return m_Registers->UInt(address); }
    uint32_t setUIntReg(uint32_t address, uint32_t value);

    // Integer features over their "reg" node.
    struct RegShape {
        bool isSigned = true;
        uint32_t length = 0;
    };
    bool regShape(const char* name, RegShape& shape);
    uint32_t sourceSelectorFor(int32_t ch);
    uint32_t regionSet(int map, uint32_t value, uint32_t source, uint32_t region);
    uint32_t getterValue(int32_t ch, int map);
    // The geometry of the channel's current selection key (mapValue).
    FrameGeometry selectedGeometry(int32_t ch);
    // Hands the selected geometry to the channel, refreshes PayloadSize (channel 0)
    // and calls the channel-change callback when asked.
    void rebuild(int32_t ch, bool notify);
    StreamProtocol* stream(int64_t ch);
    uint32_t sendImage(uint8_t* frame, uint16_t flags, int64_t ch, uint32_t lines);
    uint32_t sendData(uint8_t* buffer, uint16_t flags, uint64_t size, uint64_t ch);
    // Map keys (source x 2 + region) of an existing channel: its selection,
    // and the key an image register's access uses. They take the channel's
    // lock, which the caller does not hold.
    uint32_t sourceKeyBase(int32_t ch);
    uint32_t selectionKey(int32_t ch);
    uint32_t registerKey(int32_t ch, int map);
    uint32_t mapValue(int32_t ch, int map);
    template <class Send>
    uint32_t sendEvent(uint16_t channel, Send&& send);

    std::shared_ptr<INetPlatform> m_Net;
    ControlProtocol m_Control;
    std::unique_ptr<MessageProtocol> m_Messages;  // after the control protocol: closed and destroyed first
    std::vector<std::unique_ptr<ChannelSettings>> m_Channels;
    std::unique_ptr<StreamChannels> m_Streams;  // after the control protocol: stopped and destroyed first
    std::vector<Gvsp::ChunkArea> m_ChunkAreas;  // per channel, the producer's
    RWLock m_Lock;  // the camera lock
    std::shared_ptr<StringReg> m_PublishedXml;
    const uint64_t m_StartTime;
    std::vector<AdapterRecord> m_Adapters;

    std::mutex m_HandlerMutex;  // the pairs below and the gate's condition
    std::condition_variable m_HandlersIdle;
    Handler<::FeatureReadCallback> m_Read;
    Handler<::FeatureWriteCallback> m_Write;
    Handler<::ActionCallback> m_Action;
    Handler<::ActionCallback> m_Scheduled;
    Handler<::ClientConnectionCallback> m_Connection;
    std::atomic<bool> m_HandlersOpen{false};
    std::atomic<uint64_t> m_HandlerOpenings{0};
    std::atomic<int> m_HandlersInFlight{0};

    std::mutex m_EnumTablesMutex;  // entry tables handed out by GetEnumEntryTable
    struct EnumTable {
        std::shared_ptr<const std::vector<std::string>> names;
        std::vector<const char*> pointers;
    };
    std::vector<std::unique_ptr<EnumTable>> m_EnumTables;

    std::mutex m_ChunkMutex;      // one chunk builder at a time
    uint32_t m_ChunkCounter = 0;  // the next ChunkSelector value
    std::mutex m_EventMutex;      // one event builder at a time
    uint32_t m_EventCounter = 0;  // the next EventSelector value
    std::unique_ptr<ImageRegisterHooks> m_ImageHooks;  // last: unsubscribed first
};

}  // namespace Kivu
