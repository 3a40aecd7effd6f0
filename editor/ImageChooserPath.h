// What the image chooser answers the page: the chosen file's URL text with repeated
// slashes collapsed ("file:///a/b%20c.png" → "file:/a/b%20c.png") and the five characters
// "file:" dropped, so the absolute path with its percent-escapes kept ("/a/b%20c.png").
// The page puts it behind "icon:" to show the picture.
#pragma once

#include <string>
#include <string_view>

namespace zv::editor {

// Empty for text that is not a "file:" URL.
std::string imagePathFromFileURL(std::string_view url);

}  // namespace zv::editor
