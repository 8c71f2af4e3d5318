#pragma once
// The GenICam description document: declaration, root element, dirty flag and
// the schema order of child elements.
#include "model/base.h"

#include <tinyxml.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace Kivu {

class FeatureDescBase : public Base {
public:
    // A typed record hung on an element. Contexts are told apart by kind.
    class FeatureContextBase {
    public:
        explicit FeatureContextBase(uint32_t kind) : m_Kind(kind) {}
        virtual ~FeatureContextBase() = default;
        FeatureContextBase(const FeatureContextBase&) = delete;
        FeatureContextBase& operator=(const FeatureContextBase&) = delete;
        uint32_t Kind() const { return m_Kind; }

    private:
        const uint32_t m_Kind;
    };

    // Element tag -> child tag -> rank from 1; a missing child tag has rank 0.
    using OrderTable = std::map<std::string, std::map<std::string, uint32_t, std::less<>>, std::less<>>;
    static const OrderTable& ChildOrderTable();
    static uint32_t ChildRank(const char* parentTag, const char* childTag);

    // The context hung on an element, and its kind (0 without context).
    static FeatureContextBase* ContextOf(const TiXmlElement* element);
    static uint32_t KindOf(const TiXmlElement* element);

    FeatureDescBase();
    ~FeatureDescBase() override;
    FeatureDescBase(const FeatureDescBase&) = delete;
    FeatureDescBase& operator=(const FeatureDescBase&) = delete;

protected:
    // Inserts child under parent before the first child of greater rank (at
    // the end when there is none or its rank is 0) and returns the element
    // the document keeps, which is not child itself when TinyXML copies it.
    static TiXmlElement* InsertOrdered(TiXmlElement* parent, std::unique_ptr<TiXmlElement> child);
    // The first direct child element of parent whose Name equals name.
    static TiXmlElement* FindFeature(const TiXmlElement* parent, const char* name);

    static void Attach(TiXmlElement* element, std::unique_ptr<FeatureContextBase> context);
    // Deletes the contexts of element and its descendants, children first;
    // before is called for each context about to be deleted.
    static void DeleteContexts(TiXmlElement* element,
                               const std::function<void(TiXmlElement*, FeatureContextBase&)>& before);

    void MarkDirty() { m_Dirty.store(true, std::memory_order_release); }

    TiXmlDocument m_Doc;
    TiXmlElement* m_Root = nullptr;
    std::atomic<bool> m_Dirty{true};
};

}  // namespace Kivu
