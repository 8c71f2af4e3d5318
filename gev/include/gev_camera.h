#pragma once
// Vantocam: a GigE Vision device. createCamera() gives a camera; declare its
// GenICam features, register the callbacks, then Start it on an address.
//
// The declaration order of CGevCamera's operations is the binary interface:
// never reorder, insert or remove one.
#include <cstdint>
#include <memory>
#include <string>

// Results of the camera's operations.
namespace GevResult {
constexpr uint32_t Ok = 0;
constexpr uint32_t NoRegister = 1;  // the feature has no register node
constexpr uint32_t Fail = 0x80004005;
constexpr uint32_t InvalidArgument = 0x80070057;
constexpr uint32_t Running = 0x80070005;  // refused while the device runs
constexpr uint32_t NotFound = 0x80004002;
constexpr uint32_t NotRunning = 0x80004001;
constexpr uint32_t Exists = 0x8009000F;      // a category or register node of that name exists
constexpr uint32_t NoAccess = 0xFFFFFFFF;    // access-mode queries and changes that failed
}  // namespace GevResult

// One part of a multi-part block. A part is identified by (key3, key1, key2).
struct PartDescriptor {
    uint8_t componentIndex = 0;  // the caller's own; never read by the camera
    uint8_t key1 = 0;
    uint8_t key2 = 0;
    uint8_t key3 = 0;
    uint16_t width = 0;
    uint16_t height = 0;    // lines
    uint16_t dataType = 0;  // GVSP multi-part data type: 1 2D image, 5 3D image
    std::string pixelFormatName;
};

using ImagePartBuffer = std::shared_ptr<uint8_t[]>;

// An ACTION command's keys and time, in host order.
struct ActionCommandInfo {
    uint32_t deviceKey = 0;
    uint32_t groupKey = 0;
    uint32_t groupMask = 0;
    uint64_t actionTimeNs = 0;  // 0 for an immediate action
};

struct NetworkInterfaceInfo {
    uint32_t ip = 0;  // first octet in the lowest byte
    uint8_t mac[8] = {};
    uint32_t mask = 0;  // as ip
    uint32_t reserved = 0;
    uint32_t linkSpeedBps = 0;  // saturates at 0xFFFFFFFF
    uint16_t mtu = 0;           // saturates at 0xFFFF
};

// Test knobs of the stream and control protocols.
struct SimulationParameters {
    uint16_t shufflePackets = 0;
    uint16_t dropPackets = 0;
    uint32_t dropPeriod = 0;      // blocks whose id is a multiple of it
    uint32_t dropFirst = 0;       // index of the first dropped packet
    uint32_t dropCount = 0;       // packets dropped
    uint32_t packetDelayNs = 0;   // inter-packet delay
    uint32_t readAckDelayMs = 0;  // READREG, READMEM
    uint32_t writeAckDelayMs = 0;      // WRITEREG, WRITEMEM
    uint32_t discoveryAckDelayMs = 0;
    uint32_t readEveryNth = 0;
    uint32_t writeEveryNth = 0;
    uint32_t discoveryEveryNth = 0;
};

// Handlers run on the camera's threads. A write handler that returns false
// makes the write fail and restores the old value.
using FeatureReadCallback = bool (*)(void* context, const char* featureName);
using FeatureWriteCallback = bool (*)(void* context, const char* featureName);
using ActionCallback = bool (*)(void* context, const ActionCommandInfo* info);
using ClientConnectionCallback = void (*)(void* context, bool connected);
using ChannelChangeCallback = void (*)(void* context);

// Operations return a GevResult value unless noted; none throws. A handler
// may call the camera, except Start and Stop, which then fail.
class CGevCamera {
public:
    virtual ~CGevCamera() {}

    // Life cycle.
    virtual uint32_t Start(const char* ipv4) = 0;
    virtual uint32_t Stop() = 0;

    // Description building.
    virtual uint32_t AddCategory(const char* name, const char* parentCategory) = 0;
    virtual uint32_t AddRegisterFeature(int32_t kind, const char* name, const char* category, uint16_t accessMode,
                                        const char* description, uint16_t standardNamespace) = 0;
    virtual uint32_t AddFeatureNode(const char* elementType, const char* name, const char* category,
                                    uint16_t nameSpace) = 0;
    // Event features read the event record as the GigE Vision mode set when
    // they are added sends it; set the mode first.
    virtual uint32_t AddEventSelectorFeatures(const char* category) = 0;
    virtual uint32_t AddEvent(uint16_t eventId, const char* eventName, const char* category, bool withTimestamp,
                              bool withStreamChannelId, bool withFrameId) = 0;
    virtual uint32_t AddEventDataFeature(const char* eventName, const char* featureName, uint16_t kind,
                                         uint32_t offset, uint32_t length, const char* description) = 0;
    virtual uint32_t AddChunkSelectorFeatures(const char* category) = 0;
    virtual uint32_t AddChunk(uint32_t chunkId, const char* name, const char* category, uint16_t kind,
                              uint32_t length, const char* description) = 0;
    virtual uint32_t AddChunkFeature(uint32_t chunkId, const char* name, const char* category, uint16_t kind,
                                     int32_t bytesPerValue, const void* extra) = 0;
    virtual uint32_t RemoveFeature(const char* name) = 0;

    // Feature values.
    virtual uint32_t SetIntegerValue(const char* name, int64_t value) = 0;
    virtual uint32_t SetFloatValue(const char* name, float value) = 0;
    virtual uint32_t SetStringValue(const char* name, const char* text) = 0;
    virtual uint32_t SetEnumValue(const char* name, const char* entryName) = 0;
    virtual uint32_t GetIntegerValue(const char* name, int64_t* out) = 0;
    virtual uint32_t GetFloatValue(const char* name, float* out) = 0;
    virtual uint32_t GetStringValue(const char* name, char* buffer, uint32_t bufferSize) = 0;
    virtual uint32_t GetFeatureValueText(const char* name, const char** out) = 0;

    // Feature nodes.
    virtual uint32_t SetFeatureChildValue(const char* feature, const char* childTag, const char* text,
                                          bool addAnother) = 0;
    virtual uint32_t GetFeatureChildValue(const char* feature, const char* childTag, const char** out) = 0;
    virtual uint32_t SetFeatureChildAttribute(const char* feature, const char* childTag, const char* childText,
                                              const char* attrName, const char* attrValue) = 0;
    virtual uint32_t AddEnumEntry(const char* enumName, const char* entryName, uint32_t value) = 0;
    virtual uint32_t SetEnumEntryChildValue(const char* enumName, const char* entryName, const char* childTag,
                                            const char* text, bool addAnother) = 0;
    virtual uint32_t RemoveFeatureChild(const char* feature, const char* childTag, const char* text) = 0;  // 0
    virtual uint32_t RemoveEnumEntry(const char* enumName, const char* entryName) = 0;                    // 0
    // The entry names, valid until the enumeration changes; null when missing.
    virtual const char* const* GetEnumEntryTable(const char* enumName, uint32_t* count) = 0;
    virtual uint32_t SetFloatRange(const char* name, float min, float max) = 0;
    virtual uint32_t SetIntegerRange(const char* name, int64_t min, int64_t max, uint64_t increment) = 0;
    virtual uint32_t GetIntegerRange(const char* name, int64_t* min, int64_t* max, uint32_t* increment) = 0;
    virtual uint32_t GetFloatRange(const char* name, float* min, float* max) = 0;
    virtual uint32_t SetFeatureDescription(const char* name, const char* text) = 0;
    virtual uint32_t GetFeatureAddress(const char* name, uint32_t* address) = 0;
    virtual uint32_t GetFeatureType(const char* name, uint32_t* type) = 0;
    virtual uint32_t GetFeatureAccessMode(const char* name, uint32_t* mode) = 0;  // 0, or 0xFFFFFFFF
    virtual uint32_t SetFeatureAccessMode(const char* name, uint32_t mode) = 0;

    // Raw registers (value in network byte order) and memory.
    virtual uint32_t WriteRegister(uint32_t address, uint32_t value) = 0;
    virtual uint32_t ReadRegister(uint32_t address, uint32_t* value) = 0;
    virtual uint32_t WriteMemory(uint32_t address, const void* data, uint32_t length) = 0;
    virtual uint32_t ReadMemory(uint32_t address, void* data, uint32_t length) = 0;

    // Events to the client's message channel, stamped with the stream
    // channel's clock (channel 0 for 0xFFFF, none) and sent in the form of the
    // GigE Vision mode. 0x80004001 while not running or while no client has
    // opened the channel; 0x80070057 for more than 33 ids, more than 540 data
    // bytes or a stream channel that does not exist. An acknowledged event is
    // resent every MCTT ms until it went out MCRC times (0: once).
    virtual uint32_t SendEvent(uint16_t eventId, uint16_t streamChannel, bool requestAck) = 0;
    virtual uint32_t SendEvents(uint32_t count, const uint16_t* eventIds, uint16_t streamChannel,
                                bool requestAck) = 0;
    virtual uint32_t SendEventData(uint16_t eventId, const void* data, uint32_t length, uint16_t streamChannel,
                                   bool requestAck) = 0;

    // Host network interfaces.
    virtual int32_t GetNetworkInterfaceCount() = 0;
    virtual uint32_t GetNetworkInterfaceIp(uint32_t index, char ip[16]) = 0;
    virtual uint32_t GetNetworkInterfaceInfo(uint32_t index, NetworkInterfaceInfo* out) = 0;

    virtual uint32_t GetStreamChannelCount(uint32_t* count) = 0;
    virtual bool IsRunning() = 0;

    // Frames.
    virtual uint32_t BeginFrame(int32_t channel) = 0;  // blocks until the channel streams or stops
    virtual uint32_t SendImage(uint8_t* frameBuffer, uint32_t channel, uint32_t lines) = 0;
    virtual uint32_t SendData(uint8_t* buffer, uint64_t size, uint32_t channel) = 0;

    // Device and stream configuration.
    // Compression of the channel's frames in GigE Vision 2.0 mode: 0 none, 1
    // JPEG, 2 H.264 (Mono8 or RGB8 frames). H.264 needs the encoder module
    // "libpravmpg.so" on the library search path: without it 0x80004005, the
    // mode kept and a line on stderr. 0x80070005 while the channel streams.
    // The payload size becomes the raw image bytes x 0.9 (JPEG) or x 0.8
    // (H.264) rounded up to 16, plus the chunk size; the frame buffer given to
    // SendImage still holds the raw image, then the chunk area. A frame that
    // does not compress into the payload size is not sent (0x80004005).
    virtual uint32_t SetCompressionMode(uint16_t mode, int32_t channel) = 0;
    // JPEG quality 1-100 (90 until set) or H.264 quality profile, and the H.264 bitrate.
    virtual uint32_t SetCompressionParameters(uint32_t quality, uint32_t bitrate, int32_t channel) = 0;
    virtual uint32_t SetStreamChannelCount(uint32_t count) = 0;
    virtual uint32_t SetSourceCount(uint32_t count) = 0;
    virtual uint32_t SetRegionMode(uint32_t mode, int32_t channel) = 0;
    virtual uint32_t SetGevMode(uint16_t mode) = 0;  // 0 GigE Vision 1.2, 1 GigE Vision 2.0
    virtual uint32_t SetTimestampMode(uint16_t mode, int32_t channel) = 0;
    virtual uint32_t SetMaxImageSize(uint32_t maxWidth, uint32_t maxHeight) = 0;
    virtual uint32_t SetPayloadType(uint16_t payloadType, int32_t channel) = 0;

    // Callbacks; a null function disables one, a second call replaces the first.
    virtual uint32_t SetFeatureReadCallback(void* context, FeatureReadCallback fn) = 0;
    virtual uint32_t SetFeatureWriteCallback(void* context, FeatureWriteCallback fn) = 0;
    virtual uint32_t SetActionCallback(void* context, ActionCallback fn) = 0;
    virtual uint32_t SetScheduledActionCallback(void* context, ActionCallback fn) = 0;
    virtual uint32_t SetClientConnectionCallback(void* context, ClientConnectionCallback fn) = 0;
    virtual uint32_t SetActionSignalCount(uint32_t count) = 0;
    virtual uint32_t SetChannelChangeCallback(void* context, int32_t channel, ChannelChangeCallback fn) = 0;

    virtual uint32_t AddChunkData(uint8_t* frameBuffer, const void* data, uint32_t length, uint32_t chunkId,
                                  uint32_t channel) = 0;

    // Pixel formats and image geometry.
    virtual uint32_t AddPixelFormatEx(const char* pfncName, const char* pIsImplemented,
                                      const char* pIsAvailable) = 0;
    virtual uint32_t AddPixelFormat(const char* pfncName) = 0;
    virtual uint32_t SetImageSize(uint32_t width, uint32_t height, int32_t channel) = 0;
    virtual uint32_t SetImageOffset(uint32_t x, uint32_t y, int32_t channel) = 0;
    virtual uint32_t SetRegionPixelFormat(const char* pfncName, uint32_t source, uint32_t region,
                                          int32_t channel) = 0;
    virtual uint32_t SetPixelFormatValue(uint32_t pfncValue, int32_t channel) = 0;
    virtual uint32_t SetPixelFormat(const char* pfncName, int32_t channel) = 0;
    virtual uint32_t SetChunkPayloadSize(uint32_t chunkBytes, uint32_t chunkCount, int32_t channel) = 0;
    virtual uint32_t GetChunkPayloadSize(uint32_t* out, int32_t channel) = 0;
    virtual uint32_t GetWidth(int32_t channel) = 0;
    virtual uint32_t GetHeight(int32_t channel) = 0;
    virtual const char* GetPixelFormatName(int32_t channel) = 0;
    virtual uint32_t GetPixelFormat(int32_t channel) = 0;
    virtual const char* PixelFormatNameOf(uint32_t pfncValue) = 0;  // null when unknown
    virtual uint32_t PixelFormatValueOf(const char* pfncName) = 0;  // 0 when unknown
    virtual uint32_t GetOffsetX(int32_t channel) = 0;
    virtual uint32_t GetOffsetY(int32_t channel) = 0;
    virtual uint32_t GetPayloadSize(int32_t channel) = 0;
    virtual uint32_t GetSourceIndex(int32_t channel) = 0;

    // Identity; refused while running. Texts are dotted IPv4 addresses.
    virtual uint32_t SetPersistentIp(const char* ip, const char* mask, const char* gateway) = 0;
    virtual uint32_t GetCurrentIp(char ip[16], char mask[16], char gateway[16]) = 0;
    virtual uint32_t SetMacAddress(const char* text) = 0;  // "00-1A-2B-3C-4D-5E" or with ':'
    virtual uint32_t GetMacAddress(char out[13]) = 0;
    virtual uint32_t SetDeviceIdentity(const char* manufacturer, const char* model, const char* deviceVersion,
                                       const char* manufacturerInfo, const char* serialNumber) = 0;

    virtual uint32_t SetSimulationParameters(const SimulationParameters* parameters) = 0;
    // Test-image conversion: a Mono8, Mono16, RGB8 or RGB16 image of width x height pixels
    // (16-bit samples little-endian) into destinationFormat (Bayer 8/10/12/16 and packed,
    // Mono8/10/12/14/16 and packed), each sample shifted left by shift (0..16) first. The
    // top-left outputWidth x outputHeight pixels are converted (0 = the input size); destination
    // lines are width x 1 or 2 bytes apart, or 3 bytes per started pixel pair for packed formats.
    // reserved is 0. Other formats or arguments: 0x80070057.
    virtual uint32_t ConvertPixels(const void* source, void* destination, uint32_t width, uint32_t height,
                                   uint32_t sourceFormat, uint32_t destinationFormat, uint32_t shift,
                                   uint32_t reserved, uint32_t outputWidth, uint32_t outputHeight) = 0;
    virtual uint32_t LatchTimestamp() = 0;
    virtual uint32_t SetUserDefinedName(const char* text) = 0;

    virtual uint32_t SendImageEx(uint8_t* frameBuffer, uint16_t flags, int32_t channel, uint32_t lines) = 0;
    virtual uint32_t SendDataEx(uint8_t* buffer, uint16_t flags, uint64_t size, uint32_t channel) = 0;

    // Per-(source, region) geometry of stream channel 0.
    virtual uint32_t SetRegionWidth(uint32_t value, uint32_t source, uint32_t region, int32_t channel) = 0;
    virtual uint32_t SetRegionHeight(uint32_t value, uint32_t source, uint32_t region, int32_t channel) = 0;
    virtual uint32_t SetRegionOffsetX(uint32_t value, uint32_t source, uint32_t region, int32_t channel) = 0;
    virtual uint32_t SetRegionOffsetY(uint32_t value, uint32_t source, uint32_t region, int32_t channel) = 0;
    virtual uint32_t ApplyRegionSettings(int32_t channel) = 0;  // 1

    // Multi-part blocks.
    virtual uint32_t UpdateImagePart(PartDescriptor part) = 0;
    virtual uint32_t SetImagePartData(ImagePartBuffer data, uint32_t size, PartDescriptor part) = 0;
    virtual uint32_t RemoveImagePart(PartDescriptor part) = 0;
    virtual uint32_t SetFrameTimestamp(uint64_t timestamp) = 0;
};

// A new camera: no thread, no socket. Delete it after Stop.
extern "C" __attribute__((visibility("default"))) CGevCamera* createCamera();
