// Where the editor's frameless window may stand, and which of its edges a pointer is on.
// The page draws the whole window, title bar included, so the desktop neither keeps it
// on screen nor offers resizable edges: the window does both itself.
//
// Threads: any (plain functions).
#pragma once

#include <cstdint>

#include "HTMLWindowHost.h"

namespace zv::editor {

// `frame` moved (and, when larger, shrunk) so that it lies wholly inside `available`, the
// screen's area without its panels. A frame that fits is left where it is.
Rect fitOnScreen(const Rect& frame, const Rect& available);

// The edges of a window of `width` × `height` within `border` of `point` (window
// coordinates): a bit set of these, 0 inside.
enum ResizeEdge : std::uint8_t { kLeftEdge = 1, kTopEdge = 2, kRightEdge = 4, kBottomEdge = 8 };
std::uint8_t resizeEdgesAt(Point point, double width, double height, double border);

}  // namespace zv::editor
