// Chunk description builders: the chunk selector group, chunks with one value
// per block and chunks with one 32-bit value per scan line.
#include "server/camera.h"
#include "server/camera_feature_text.h"
#include "server/camera_guard.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace Kivu {
namespace {

constexpr uint16_t kReadOnly = 1;
constexpr uint16_t kReadWrite = 3;
constexpr uint32_t kMaxStringChunk = 128;
constexpr const char* kChunkCategory = "ChunkDataControl";  // home of the per-line address nodes
constexpr const char* kScanLineSelector = "regChunkScanLineSelector";

// Removes, in reverse order, what a builder created unless the builder
// completed. Only nodes the builder itself created are listed, so a name that
// already existed is never removed.
class Undo {
public:
    explicit Undo(FeatureDesc& features) : m_Features(features) {}
    ~Undo()
    {
        if (m_Done)
            return;
        try {
            for (auto it = m_Steps.rbegin(); it != m_Steps.rend(); ++it) {
                if (it->what == Step::EntryStep) {
                    m_Features.RemoveEnumEntry(it->owner.c_str(), it->name.c_str());
                    continue;
                }
                m_Features.RemoveFeature(it->name.c_str());
                if (!it->owner.empty())
                    m_Features.RemoveFeatureChild(it->owner.c_str(), "pFeature", it->name.c_str());
            }
        } catch (...) {
        }
    }
    Undo(const Undo&) = delete;
    Undo& operator=(const Undo&) = delete;

    // A node, and the category that lists it (empty for none).
    void Node(std::string name, const char* category)
    {
        m_Steps.push_back({Step::NodeStep, std::move(name), category != nullptr ? category : ""});
    }
    void Entry(std::string enumeration, std::string entry)
    {
        m_Steps.push_back({Step::EntryStep, std::move(entry), std::move(enumeration)});
    }
    void Done() { m_Done = true; }

private:
    struct Step {
        enum Kind { NodeStep, EntryStep } what;
        std::string name;
        std::string owner;
    };
    FeatureDesc& m_Features;
    std::vector<Step> m_Steps;
    bool m_Done = false;
};

// Runs the steps in order and gives the first failing status.
template <class... Steps>
uint32_t firstFailure(Steps&&... steps)
{
    uint32_t st = GevResult::Ok;
    ((st == GevResult::Ok ? (st = steps(), 0) : 0), ...);
    return st;
}

bool hasEntry(FeatureDesc& features, const char* enumeration, const char* entry)
{
    const auto names = features.GetEnumEntryNames(enumeration);
    if (!names)
        return false;
    for (const std::string& n : *names)
        if (n == entry)
            return true;
    return false;
}

bool exists(FeatureDesc& features, const std::string& name)
{
    uint32_t type = 0;
    return features.GetFeatureType(name.c_str(), type) != GevResult::NotFound;  // any other tag: InvalidArg
}

// The chunk's ChunkSelector entry, with the camera's next chunk number.
uint32_t addSelectorEntry(FeatureDesc& features, Undo& undo, const char* name, uint32_t counter)
{
    const uint32_t st = features.AddEnumEntry("ChunkSelector", name, counter);
    if (st == GevResult::Ok)
        undo.Entry("ChunkSelector", name);
    return st;
}

// The chunk's port, which reads the block's chunk chunkId; the last step of a
// chunk builder: the build is complete and takes the next chunk number.
uint32_t addChunkPort(FeatureDesc& features, Undo& undo, const std::string& port, uint32_t chunkId,
                      uint32_t& counter)
{
    uint32_t st = features.AddFeature("Port", port.c_str(), nullptr, nullptr);
    if (st != GevResult::Ok)
        return st;
    undo.Node(port, nullptr);
    st = features.SetFeatureChildText(port.c_str(), "ChunkID", hexText(chunkId).c_str(), false);
    if (st != GevResult::Ok)
        return st;
    undo.Done();
    ++counter;
    return GevResult::Ok;
}

}  // namespace

uint32_t Camera::AddChunkSelectorFeatures(const char* category)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (category == nullptr)
            return GevResult::InvalidArgument;
        // The group is built as far as it goes; a part that exists already stays.
        FeatureDesc& f = *m_Features;
        f.AddCategory(category, nullptr);
        AddRegisterFeature(7, "ChunkSelector", category, kReadWrite, "Selects which chunk to enable or control", 1);
        f.SetFeatureChildText("ChunkSelector", "Streamable", "Yes", false);
        AddRegisterFeature(5, "ChunkEnable", category, kReadWrite,
                           "Enables the inclusion of the selected chunk data in the frame", 1);
        f.SetFeatureChildText("ChunkEnable", "Streamable", "Yes", false);
        f.SetFeatureChildText("regChunkEnable", "Cachable", "NoCache", false);
        f.SetFeatureChildText("ChunkSelector", "pSelected", "ChunkEnable", false);
        return GevResult::Ok;
    });
}

uint32_t Camera::AddChunk(uint32_t chunkId, const char* name, const char* category, uint16_t kind, uint32_t length,
                          const char* description)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (name == nullptr || length == 0)
            return GevResult::InvalidArgument;
        const bool text = kind == 4;
        const bool number = kind <= 3 || kind == 5 || kind == 7;
        if (!(text && length <= kMaxStringChunk) && !(number && length <= 8))
            return GevResult::InvalidArgument;
        if (kind == 3 && length != 4 && length != 8)
            return GevResult::InvalidArgument;  // a float register is 4 or 8 bytes
        std::lock_guard lock(m_ChunkMutex);
        FeatureDesc& f = *m_Features;
        const std::string port = std::string(name) + "Port";
        const std::string value = text ? std::string(name) : "reg" + std::string(name);
        if (hasEntry(f, "ChunkSelector", name) || exists(f, port))
            return GevResult::Exists;
        Undo undo(f);

        uint32_t st = addSelectorEntry(f, undo, name, m_ChunkCounter);
        if (st != GevResult::Ok)
            return st;

        if (text) {
            st = f.AddStringReg(name, kReadOnly);
            if (st != GevResult::Ok)
                return st;
            undo.Node(name, category);
            if (category != nullptr) {
                st = f.SetFeatureChildText(category, "pFeature", name, true);
                if (st != GevResult::Ok)
                    return st;
            }
            // Only a node that exists can be pointed to.
            if (exists(f, "ChunkModeActive")) {
                st = f.SetFeatureChildText(name, "pIsAvailable", "ChunkModeActive", false);
                if (st != GevResult::Ok)
                    return st;
            }
            if (description != nullptr) {
                st = f.SetFeatureChildText(name, "Description", description, false);
                if (st != GevResult::Ok)
                    return st;
            }
        } else {
            st = AddRegisterFeature(kind, name, category, kReadOnly, description, 1);
            if (st != GevResult::Ok)
                return st;
            undo.Node(name, category);
        }

        const std::string lengthText = std::to_string(length);
        st = firstFailure([&] { return f.SetFeatureChildText(value.c_str(), "Address", "0x0", false); },
                          [&] { return f.SetFeatureChildText(value.c_str(), "Length", lengthText.c_str(), false); },
                          [&] { return f.SetFeatureChildText(value.c_str(), "pPort", port.c_str(), false); },
                          [&] { return f.SetFeatureChildText(value.c_str(), "Cachable", "NoCache", false); });
        if (st != GevResult::Ok)
            return st;
        return addChunkPort(f, undo, port, chunkId, m_ChunkCounter);
    });
}

uint32_t Camera::AddChunkFeature(uint32_t chunkId, const char* name, const char* category, uint16_t kind,
                                 int32_t bytesPerValue, const void*)
{
    return guarded(__func__, [&]() -> uint32_t {
        if (name == nullptr || bytesPerValue != 4 || kind < 1 || kind > 3)
            return GevResult::InvalidArgument;
        std::lock_guard lock(m_ChunkMutex);
        FeatureDesc& f = *m_Features;
        const std::string address = std::string(name) + "Addr";
        const std::string port = std::string(name) + "Port";
        const std::string value = "reg" + std::string(name);
        if (hasEntry(f, "ChunkSelector", name) || exists(f, address) || exists(f, port))
            return GevResult::Exists;
        Undo undo(f);

        uint32_t st = addSelectorEntry(f, undo, name, m_ChunkCounter);
        if (st != GevResult::Ok)
            return st;

        // The value of line i sits at byte 4 i of the chunk, i the scan-line selector.
        st = f.AddFeature("IntSwissKnife", address.c_str(), "Standard", kChunkCategory);
        if (st != GevResult::Ok)
            return st;
        undo.Node(address, kChunkCategory);
        st = firstFailure(
            [&] { return f.SetFeatureChildText(address.c_str(), "Visibility", "Invisible", false); },
            [&] { return f.SetFeatureChildText(address.c_str(), "pVariable", kScanLineSelector, false); },
            [&] { return f.SetFeatureChildAttribute(address.c_str(), "pVariable", kScanLineSelector, "Name", "SEL"); },
            [&] { return f.SetFeatureChildText(address.c_str(), "Formula", "SEL * 4", false); },
            [&] { return AddRegisterFeature(2, name, category, kReadOnly, nullptr, 1); });
        if (st != GevResult::Ok)
            return st;
        undo.Node(name, category);

        st = firstFailure([&] { return f.RemoveFeatureChild(value.c_str(), "Address", nullptr); },
                          [&] { return f.SetFeatureChildText(value.c_str(), "pAddress", address.c_str(), false); },
                          [&] { return f.SetFeatureChildText(value.c_str(), "Length", "4", false); },
                          [&] { return f.SetFeatureChildText(value.c_str(), "pPort", port.c_str(), false); },
                          [&] { return f.SetFeatureChildText(value.c_str(), "Sign", "Unsigned", false); },
                          [&] { return f.SetFeatureChildText(value.c_str(), "Endianess", "LittleEndian", false); });
        if (st != GevResult::Ok)
            return st;
        return addChunkPort(f, undo, port, chunkId, m_ChunkCounter);
    });
}

}  // namespace Kivu
