// Text buttons of fixed size whose caption must not be cut off under whatever style and
// font the user runs (-style, a desktop theme, a larger default font).
#pragma once

class QPushButton;

namespace deck {

// The room the style needs around a caption, as Qt sizes a push button: its margin and
// frame on both sides, from the style's own metrics.
int CaptionRoom(const QPushButton& button);
// Gives the button a smaller font, step by step, until its caption fits its width; the
// button keeps its place and size. A caption that fits already keeps the font.
void FitCaption(QPushButton& button);

}  // namespace deck
