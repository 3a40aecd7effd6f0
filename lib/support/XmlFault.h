// Where an XML text stops being well formed, in words a user can find in an editor:
// "line 5: </strng> does not close <string> (line 5)". The property-list parser only
// says that a text is not a property list; this scan names the first place to look.
//
// It checks the nesting of elements, that every tag ends, and (when given) that every
// element name is one of `knownElements`. It skips comments, CDATA, processing
// instructions and the document type, and does not check attributes, entities or
// character content.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zv::support {

// The first fault found, or nothing when the elements nest well. An empty
// `knownElements` accepts every name.
std::optional<std::string> locateXmlFault(std::string_view xml,
                                          std::span<const std::string_view> knownElements = {});

}  // namespace zv::support
