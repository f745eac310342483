#pragma once
// Font choice for drawing ballots: the Windows family names the layout asks
// for are mapped to installed families through a fixed fallback list, so a
// missing font never leaves empty boxes.
#include <string>
#include <string_view>

#include <QFont>

namespace korvex {

// The installed family used for "宋体", "黑体", "Consolas" or "手写" (the
// handwriting face the ballot forge writes names with). Unknown names fall
// back to the "宋体" list.
QString BallotFontFamily(std::string_view requested);

// A font of the given family with the character (em) height in pixels.
QFont BallotFont(std::string_view requested, int pixelHeight, bool bold = false);

// Drawing text needs a GUI application object; creates one for the rest of
// the process when there is none, choosing the offscreen platform when no
// display is configured.
void EnsureGuiApplication();

}  // namespace korvex
