// The editor's window icon: the desktop theme's mouse icon, else a mouse drawn in the
// window's own colours, so the window never shows the window system's blank icon.
//
// Threads: the GUI thread, after the application object exists.
#pragma once

#include <QIcon>

namespace zv::editor {

QIcon appIcon();

}  // namespace zv::editor
