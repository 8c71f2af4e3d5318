#pragma once
// The scanner's GenICam feature tree as data, and the small interpreter that declares it through
// the camera's description operations.
#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scanner_info.h"

class CGevCamera;

namespace lumabridge::description {

// What the declarations read: the scanner's cached values and the options.
struct Inputs {
    const ScannerInfo& scanner;
    bool orbalis = false;  // -c
    bool sortX = false;
};

// AddRegisterFeature's kinds; Default is a feature the camera declared on its own.
enum class Kind : int32_t {
    Default = -1,
    Integer = 1,  // over an unsigned 32-bit register
    SignedInteger = 2,
    Float = 3,
    String = 4,
    Boolean = 5,
    Command = 6,
    Enumeration = 7,
};

enum class Access : uint16_t { RO = 1, WO = 2, RW = 3 };

// Options that leave a declaration out.
enum class When : uint8_t { Always, NotOrbalis, OrbalisOnly };

// A number from the table, or from the inputs.
struct Number {
    template <std::integral T>
    constexpr Number(T value) : fixed(static_cast<int64_t>(value)) {}
    constexpr Number(int64_t (*of)(const Inputs&)) : cached(of) {}
    int64_t operator()(const Inputs& in) const { return cached != nullptr ? cached(in) : fixed; }

    int64_t fixed = 0;
    int64_t (*cached)(const Inputs&) = nullptr;
};

struct Child {
    const char* tag;
    const char* text;
    When when = When::Always;
};

struct Entry {
    const char* name;
    uint32_t value;
    std::vector<Child> children = {};
    When when = When::Always;
};

struct Range {
    Number min;
    Number max;
    uint64_t increment = 0;  // integer ranges; 0 for a float range
};

struct Feature {
    const char* name;
    Kind kind;
    Access access = Access::RW;
    When when = When::Always;
    const char* description = nullptr;
    std::vector<const char*> removedChildren = {};  // "Min", "Max": removed before anything is set
    std::optional<Range> range = std::nullopt;
    std::vector<const char*> removedEntries = {};
    bool pixelFormats = false;  // entries are PixelFormat entries (AddPixelFormat)
    std::vector<Entry> entries = {};
    // Integer, Boolean and Float values; an enumeration is set to the entry of that value.
    std::optional<Number> value = std::nullopt;
    std::string (*text)(const Inputs&) = nullptr;  // String values
    std::vector<Child> children = {};
    std::vector<Child> registerChildren = {};  // on the backing node "reg" + name
};

struct Variable {
    const char* name;
    const char* node;
};

struct SwissKnife {
    const char* name;
    const char* category;
    std::vector<Variable> variables;
    const char* formula;
};

struct Category {
    const char* name;
    const char* displayName;
    bool created = true;  // false: the camera's own
    const char* visibility = nullptr;
};

// One category's declarations in order: its features and its SwissKnife nodes.
struct Section {
    const char* category;
    // Non-null: the category is made here by the chunk selector group and gets this display name.
    const char* chunkGroupDisplayName;
    std::vector<Feature> features;
    std::vector<SwissKnife> swissKnives = {};
};

const std::vector<Category>& Categories();
const std::vector<Section>& Sections();

// Children given several times (appended); every other child replaces its text.
bool IsRepeatedChild(const char* tag);

// Declares the categories and then every section, in table order. Results are not checked: a
// failing operation leaves its node out.
void DeclareFeatureTree(CGevCamera& camera, const Inputs& inputs);

// One per-line chunk feature; kind 2 (signed) for the encoder value, 1 for the others.
struct ChunkDeclaration {
    uint32_t chunkId;
    std::string name;
    std::string displayName;
};
void DeclareChunkFeatures(CGevCamera& camera, const std::vector<ChunkDeclaration>& chunks);

}  // namespace lumabridge::description
