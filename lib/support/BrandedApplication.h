// The brand of the running application. One build of the suite can be packaged under
// several brands; the packaging writes the brand into the application's Info.plist
// ("Brand"), from which the application names and paths of that brand are formed.
#pragma once

#include <optional>
#include <string>

namespace zv::support {

class ZVBrandedApplication {
 public:
  // "Brand" of the running application's Info.plist (Bundle::main()), read at each call.
  // "Zenvor" when it still holds the unexpanded placeholder "BRAND_NAME"; none when the
  // key is missing or not a text, or the program does not run from an application folder.
  static std::optional<std::string> brand();
  // The extension of the file that hands a profile over to the editor: always "pr1".
  static std::string brandProfileExtension();
};

}  // namespace zv::support
