// Declares the feature tree of the tables through the camera's description operations.
#include "feature_description.h"

#include <cstring>

#include "gev_camera.h"

namespace lumabridge::description {
namespace {

constexpr uint16_t kStandardNamespace = 1;

bool applies(When when, const Inputs& in)
{
    switch (when) {
    case When::NotOrbalis:
        return !in.orbalis;
    case When::OrbalisOnly:
        return in.orbalis;
    case When::Always:
        break;
    }
    return true;
}

class Declarer {
public:
    Declarer(CGevCamera& camera, const Inputs& inputs) : m_Camera(camera), m_In(inputs) {}

    void category(const Category& c)
    {
        if (c.created)
            m_Camera.AddCategory(c.name, "Root");
        if (c.displayName != nullptr)
            child(c.name, {"DisplayName", c.displayName});
        if (c.visibility != nullptr)
            child(c.name, {"Visibility", c.visibility});
    }

    void section(const Section& s)
    {
        if (s.chunkGroupDisplayName != nullptr) {
            m_Camera.AddChunkSelectorFeatures(s.category);
            child(s.category, {"DisplayName", s.chunkGroupDisplayName});
        }
        for (const Feature& f : s.features)
            if (applies(f.when, m_In))
                feature(s.category, f);
        for (const SwissKnife& k : s.swissKnives)
            swissKnife(k);
    }

private:
    void feature(const char* category, const Feature& f)
    {
        const char* name = f.name;
        if (f.kind != Kind::Default)
            m_Camera.AddRegisterFeature(static_cast<int32_t>(f.kind), name, category, static_cast<uint16_t>(f.access),
                                        nullptr, kStandardNamespace);
        for (const char* tag : f.removedChildren)
            m_Camera.RemoveFeatureChild(name, tag, nullptr);
        if (f.range) {
            if (f.kind == Kind::Float)
                m_Camera.SetFloatRange(name, static_cast<float>(f.range->min(m_In)),
                                       static_cast<float>(f.range->max(m_In)));
            else
                m_Camera.SetIntegerRange(name, f.range->min(m_In), f.range->max(m_In), f.range->increment);
        }
        for (const char* entry : f.removedEntries)
            m_Camera.RemoveEnumEntry(name, entry);
        for (const Entry& e : f.entries) {
            if (!applies(e.when, m_In))
                continue;
            if (f.pixelFormats)
                m_Camera.AddPixelFormat(e.name);
            else
                m_Camera.AddEnumEntry(name, e.name, e.value);
            for (const Child& c : e.children)
                if (applies(c.when, m_In))
                    m_Camera.SetEnumEntryChildValue(name, e.name, c.tag, c.text, IsRepeatedChild(c.tag));
        }
        if (f.value)
            value(f);
        if (f.text != nullptr)
            m_Camera.SetStringValue(name, f.text(m_In).c_str());
        if (f.description != nullptr)
            m_Camera.SetFeatureDescription(name, f.description);
        for (const Child& c : f.children)
            if (applies(c.when, m_In))
                child(name, c);
        const std::string node = std::string("reg") + name;
        for (const Child& c : f.registerChildren)
            if (applies(c.when, m_In))
                child(node.c_str(), c);
    }

    void value(const Feature& f)
    {
        const int64_t v = (*f.value)(m_In);
        switch (f.kind) {
        case Kind::Float:
            m_Camera.SetFloatValue(f.name, static_cast<float>(v));
            break;
        case Kind::Enumeration:
        case Kind::Default:
            for (const Entry& e : f.entries)
                if (applies(e.when, m_In) && e.value == v) {
                    m_Camera.SetEnumValue(f.name, e.name);
                    break;
                }
            break;
        default:
            m_Camera.SetIntegerValue(f.name, v);
            break;
        }
    }

    void swissKnife(const SwissKnife& k)
    {
        m_Camera.AddFeatureNode("IntSwissKnife", k.name, k.category, 0);
        child(k.name, {"Visibility", "Invisible"});
        for (const Variable& v : k.variables) {
            child(k.name, {"pVariable", v.node});
            m_Camera.SetFeatureChildAttribute(k.name, "pVariable", v.node, "Name", v.name);
        }
        child(k.name, {"Formula", k.formula});
    }

    void child(const char* node, const Child& c)
    {
        m_Camera.SetFeatureChildValue(node, c.tag, c.text, IsRepeatedChild(c.tag));
    }

    CGevCamera& m_Camera;
    const Inputs& m_In;
};

}  // namespace

void DeclareFeatureTree(CGevCamera& camera, const Inputs& inputs)
{
    Declarer declarer(camera, inputs);
    for (const Category& c : Categories())
        declarer.category(c);
    for (const Section& s : Sections())
        declarer.section(s);
}

void DeclareChunkFeatures(CGevCamera& camera, const std::vector<ChunkDeclaration>& chunks)
{
    constexpr int32_t kBytesPerValue = 4;
    for (const ChunkDeclaration& c : chunks) {
        const uint16_t kind = c.name == "ChunkEncoderValue" ? 2 : 1;
        camera.AddChunkFeature(c.chunkId, c.name.c_str(), "ChunkDataControl", kind, kBytesPerValue, nullptr);
        camera.SetFeatureChildValue(c.name.c_str(), "DisplayName", c.displayName.c_str(), true);
    }
}

}  // namespace lumabridge::description
