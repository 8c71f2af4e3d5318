#pragma once
// A feature description over its own register tree, and its printed text.
#include "model/feature_desc.h"
#include "model/reg_tree.h"

#include <memory>
#include <string>

namespace testing_support {

struct DescFixture {
    std::shared_ptr<Kivu::RegTree> tree = std::make_shared<Kivu::RegTree>(0, 0x80000000);
    std::unique_ptr<Kivu::FeatureDesc> desc = std::make_unique<Kivu::FeatureDesc>(tree);

    std::string xml() const
    {
        auto printed = desc->GetXml();
        return std::string(printed->data(), printed->length);
    }
};

// The text with the VersionGuid value replaced by "*".
inline std::string maskVersionGuid(std::string text)
{
    const std::string key = "VersionGuid=\"";
    const size_t at = text.find(key);
    if (at != std::string::npos)
        text.replace(at + key.size(), 36, 1, '*');
    return text;
}

}  // namespace testing_support
