// Printing the feature description.
#include "model/feature_contexts.h"
#include "model/feature_desc.h"
#include "model/name_uuid.h"

#include <cstring>

namespace Kivu {

namespace {

std::string printDocument(const TiXmlDocument& doc)
{
    TiXmlPrinter printer;
    printer.SetIndent("    ");
    printer.SetLineBreak("\n");
    doc.Accept(&printer);
    return std::string(printer.CStr(), printer.Size());
}

}  // namespace

// VersionGuid names the content: the document is printed with a fixed
// VersionGuid, and the name-based UUID of that text (in the ProductGuid's
// name space) goes into the published print.
void FeatureDesc::print()
{
    m_Root->SetAttribute("VersionGuid", "00000000-0000-0000-0000-000000000000");
    const std::string content = printDocument(m_Doc);
    const Uuid version = NameUuid(*ParseUuid(kProductGuid), content);
    m_Root->SetAttribute("VersionGuid", UuidText(version).c_str());
    const std::string text = printDocument(m_Doc);

    auto printed = std::make_shared<PrintedXml>();
    printed->length = static_cast<uint32_t>(text.size());
    printed->buffer.assign((text.size() + 1 + 1023) / 1024 * 1024, '\0');
    std::memcpy(printed->buffer.data(), text.data(), text.size());
    m_Printed = std::move(printed);
    m_Dirty.store(false, std::memory_order_release);
}

std::shared_ptr<const PrintedXml> FeatureDesc::GetXml()
{
    if (m_Dirty.load(std::memory_order_acquire)) {
        Hold hold(m_Lock, true);
        if (m_Dirty.load(std::memory_order_relaxed))
            print();
        return m_Printed;
    }
    Hold hold(m_Lock, false);
    return m_Printed;
}

uint32_t FeatureDesc::GetXmlSize()
{
    return GetXml()->length;
}

}  // namespace Kivu
