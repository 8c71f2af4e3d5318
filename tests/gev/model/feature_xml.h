#pragma once
// Checks on printed GenICam descriptions: well-formedness through xmllint,
// referential integrity and schema order, and access to parsed nodes.
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct LintResult {
    int status;
    std::string output;
};
LintResult xmllint(const std::string& text);

// Problems found: pointers to missing nodes, repeated names, repeated entry
// values, children out of schema order, control characters.
std::vector<std::string> integrityProblems(const std::string& text);

using Children = std::vector<std::pair<std::string, std::string>>;  // tag, text
// The children of the root's child with that Name (of the root for "").
Children childrenOf(const std::string& text, const std::string& name);
std::string attributeOf(const std::string& text, const std::string& name, const char* attribute);
// Names of the root's children in document order, with their tags.
Children rootNodes(const std::string& text);

}  // namespace testing_support
