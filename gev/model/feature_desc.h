#pragma once
// The device's GenICam description: nodes built by writers, typed feature
// values through the registers behind them, the printed XML and the hooks
// that hand register accesses to the user's feature handlers.
#include "gev_camera.h"

#include "model/feature_desc_base.h"
#include "model/reg_tree.h"
#include "model/registers.h"
#include "model/rw_lock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace Kivu {

// Feature types as GetFeatureType reports them.
namespace FeatureType {
constexpr uint32_t Integer = 2;
constexpr uint32_t Float = 3;
constexpr uint32_t String = 4;
constexpr uint32_t Boolean = 5;
constexpr uint32_t Command = 6;
constexpr uint32_t Enumeration = 7;
}  // namespace FeatureType

constexpr uint32_t kFirstFeatureAddress = 0x10000;

using FeatureReadCallback = bool (*)(void* context, const char* featureName);
using FeatureWriteCallback = bool (*)(void* context, const char* featureName);

// One print of the description: the text, zero bytes up to a multiple of 1024
// (at least one), and the text's length.
struct PrintedXml {
    std::vector<char> buffer;
    uint32_t length = 0;
    const char* data() const { return buffer.data(); }
};

class FeatureDesc : public FeatureDescBase {
public:
    class FeatureRegContext;
    template <uint32_t Kind>
    class FeatureContextTemplate;
    class EnumFeatureContext;
    class AttributeContext;

    explicit FeatureDesc(std::shared_ptr<RegTree> tree);
    ~FeatureDesc() override;

    // Node writers. Null arguments give InvalidArg; access numbers outside 0-3
    // raise std::logic_error("Unknown access value\n") before anything changes.
    uint32_t AddCategory(const char* name, const char* parent);
    uint32_t AddFeature(const char* tag, const char* name, const char* nameSpace, const char* parent);
    uint32_t AddIntRegSigned(const char* name, int32_t value, uint32_t access, uint32_t length);
    uint32_t AddIntRegUnsigned(const char* name, uint32_t value, uint32_t access, bool customNameSpace);
    uint32_t AddFloatReg(const char* name, float value, uint32_t access);
    uint32_t AddStringReg(const char* name, uint32_t access);
    uint32_t AddEnumEntry(const char* enumeration, const char* entry, uint32_t value);
    uint32_t SetFeatureChildText(const char* feature, const char* tag, const char* text, bool append);
    uint32_t SetEntryChildText(const char* feature, const char* entry, const char* tag, const char* text,
                               bool append);
    uint32_t SetChildInt32(const char* feature, const char* tag, int32_t value);
    uint32_t SetChildUInt32(const char* feature, const char* tag, uint32_t value);
    uint32_t SetChildInt64(const char* feature, const char* tag, int64_t value);
    uint32_t SetChildFloat(const char* feature, const char* tag, float value);
    uint32_t SetMaxUInt64(const char* feature, uint64_t value);
    uint32_t SetFeatureChildAttribute(const char* feature, const char* tag, const char* childText,
                                      const char* attribute, const char* value);
    uint32_t SetAccessMode(const char* feature, uint32_t access);  // 0 or NoAccess
    uint32_t LinkFeatureRegister(const char* feature, const char* registerNode);
    uint32_t RemoveFeature(const char* name);
    uint32_t RemoveFeatureChild(const char* feature, const char* tag, const char* text);
    uint32_t RemoveEnumEntry(const char* enumeration, const char* entry);

    // Queries.
    uint32_t GetFeatureType(const char* name, uint32_t& type);
    uint32_t GetFeatureAddress(const char* name, uint32_t& address);
    uint32_t GetAccessMode(const char* name, uint32_t& access);  // 0 or NoAccess
    uint32_t GetEnumEntryName(const char* enumeration, std::string& entry);
    // The entries' names in document order; null when the name is null, not
    // found or not an enumeration. The list does not change once handed out.
    std::shared_ptr<const std::vector<std::string>> GetEnumEntryNames(const char* enumeration);
    uint32_t GetFeatureChildValue(const char* feature, const char* tag, std::string& text);

    // Values of a Value child or of the register behind pValue (or of a
    // register node named directly). Register accesses run the feature hooks
    // without the description lock held.
    uint32_t GetInt32(const char* name, int32_t& value);
    uint32_t GetUInt32(const char* name, uint32_t& value);
    uint32_t GetInt64(const char* name, int64_t& value);
    uint32_t GetFloat(const char* name, float& value);
    uint32_t GetString(const char* name, std::string& value);
    uint32_t SetInt32(const char* name, int32_t value);
    uint32_t SetUInt32(const char* name, uint32_t value);
    uint32_t SetInt64(const char* name, int64_t value);
    uint32_t SetFloat(const char* name, float value);
    uint32_t SetString(const char* name, const char* value);
    uint32_t SetEnumValue(const char* enumeration, const char* entry);

    // The printed description, printed anew when it changed. The same object
    // is returned until the next change.
    std::shared_ptr<const PrintedXml> GetXml();
    uint32_t GetXmlSize();

    // Feature hooks: the user's handlers, called with the feature's name while
    // enabled. A null function turns that hook off.
    bool SetReadCallback(void* context, FeatureReadCallback function);
    bool SetWriteCallback(void* context, FeatureWriteCallback function);
    bool EnableCallbacks(bool enable);  // returns the previous state

    template <class R>
    bool OnFeatureRegisterRead(R* reg)
    {
        return onRead(reg);
    }
    template <class R>
    bool OnFeatureRegisterWrite(R* reg)
    {
        return onWrite(reg);
    }

    const std::shared_ptr<RegTree>& Tree() const { return m_Tree; }

    static constexpr const char kProductGuid[] = "7E2B4C91-3A5D-4F08-9C6E-1D2A3B4C5D6E";

private:
    enum class ValueOp { Int32, Int64, Float, String };
    struct Target;
    struct Handler {
        void* context = nullptr;
        bool (*function)(void*, const char*) = nullptr;
    };
    struct HookName {
        std::string node;     // the register node's Name
        std::string feature;  // the feature whose pValue names the node, or empty
    };
    class Hold;
    class RetireScope;
    struct Retired {
        std::shared_ptr<Register> reg;
        std::function<void()> unhook;
    };

    // Primitive writers; the caller holds the lock exclusively.
    TiXmlElement* createFeatureNode(TiXmlElement* parent, const char* tag, const char* name,
                                    const char* nameSpace);
    TiXmlElement* addChildElement(TiXmlElement* parent, const char* tag, const std::string& text);
    TiXmlElement* addChild(TiXmlElement* parent, const char* tag, const std::string& text, uint32_t kind);
    TiXmlElement* createEnumEntry(TiXmlElement* enumeration, const char* entry);
    TiXmlElement* addCategoryFeatureLink(const char* category, const char* feature);
    void removeNode(TiXmlElement* parent, TiXmlElement* element);
    void removeChildElement(TiXmlElement* parent, const char* tag, const char* text);
    static TiXmlElement* findChildElement(TiXmlElement* parent, const char* tag, const char* text);
    static bool setText(TiXmlElement* child, const std::string& text);

    TiXmlElement* find(const char* name) const;
    template <class R, class V>
    uint32_t addRegisterNode(const char* tag, const char* name, const char* nameSpace, V value,
                             uint32_t access, uint32_t length, const char* sign, bool endianess,
                             uint32_t existsStatus);
    uint32_t setChildNumber(const char* feature, const char* tag, const std::string& text, uint32_t kind);
    void linkValue(TiXmlElement* feature, const char* oldNode, const char* newNode);
    void beforeContextDeleted(TiXmlElement* element, FeatureContextBase& context);
    TiXmlElement* linkedRegisterNode(const TiXmlElement* feature) const;
    TiXmlElement* registerNodeOf(TiXmlElement* element) const;

    // Value resolution, with the lock held.
    Target resolve(const char* name, ValueOp op) const;
    uint32_t getNumber(const char* name, ValueOp op, int64_t& bits);
    uint32_t setNumber(const char* name, ValueOp op, int64_t bits);

    void print();

    // Registers of removed nodes, released outside the description lock.
    void retire(std::shared_ptr<Register> reg, std::function<void()> unhook);
    void releaseRetired();

    // Hook bookkeeping, behind m_HookMutex.
    void registerHookName(const Register* reg, const std::string& node);
    void forgetHookName(const Register* reg);
    void setHookFeature(const TiXmlElement* node, const std::string& feature, bool onlyIfCurrent);
    std::string hookName(const Register* reg);
    bool onRead(Register* reg);
    bool onWrite(Register* reg);

    std::shared_ptr<RegTree> m_Tree;
    uint32_t m_NextAddress = kFirstFeatureAddress;
    mutable RWLock m_Lock;
    std::shared_ptr<const PrintedXml> m_Printed;
    bool m_TearingDown = false;

    std::mutex m_HookMutex;
    Handler m_Read;
    Handler m_Write;
    std::unordered_map<const Register*, HookName> m_HookNames;
    std::vector<Retired> m_Retired;
    std::atomic<bool> m_Enabled{false};
};

}  // namespace Kivu
