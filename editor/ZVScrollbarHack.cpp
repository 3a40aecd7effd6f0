#include "ZVScrollbarHack.h"

#include <stdlib.h>

#include <string>

namespace zv::editor {

void ZVScrollbarHack::forceOverlayScrollbars() {
  static const char* const kFeature = "--enable-features=OverlayScrollbar";
  const char* flags = ::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
  std::string value = flags ? flags : "";
  if (value.find("OverlayScrollbar") != std::string::npos) return;
  if (!value.empty()) value += ' ';
  value += kFeature;
  ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", value.c_str(), 1);
}

}  // namespace zv::editor
