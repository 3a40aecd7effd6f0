// Overlay scroll bars in every page of the process: the web engine draws them thin and
// over the content, whatever the desktop's style, as far as its own switch allows
// (Chromium's "OverlayScrollbar" feature). The switch must be set before the web
// engine starts, so forceOverlayScrollbars() runs before the QApplication exists; a page
// that styles ::-webkit-scrollbar itself keeps its style.
#pragma once

namespace zv::editor {

class ZVScrollbarHack {
 public:
  // Adds the feature to QTWEBENGINE_CHROMIUM_FLAGS (keeping what is there); once.
  static void forceOverlayScrollbars();
};

}  // namespace zv::editor
