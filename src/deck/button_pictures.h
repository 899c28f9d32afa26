// The pictures of the deck's transport buttons, 41 x 25 logical pixels each, with a face
// that fills the button. Drawn with QPainter, so they are sharp at any device pixel ratio.
#pragma once

#include <QPalette>
#include <QPixmap>

namespace deck {

inline constexpr int kButtonPictureWidth = 41;
inline constexpr int kButtonPictureHeight = 25;

enum class TransportPicture {
    Play,         // right-pointing triangle
    Stop,         // filled square
    Cue,          // two right-pointing triangles
    Record,       // red disc
    SkipBack,     // bar, then a left-pointing triangle
    SkipForward,  // right-pointing triangle, then a bar
    Bot,          // bar and two left-pointing triangles
    Eot,          // two right-pointing triangles and a bar
    Eject,        // triangle over a bar
};

// The picture in its enabled or disabled look (grey, embossed symbol on a flat face). Under
// a light palette (or none) the face is the deck's light grey; under a dark one it takes the
// palette's button and text colours, so that the transport does not glare out of a dark window.
QPixmap DrawTransportPicture(TransportPicture picture, bool enabled, qreal devicePixelRatio,
                             const QPalette* palette = nullptr);
// True when `palette` is a dark one: its buttons darker than middle grey.
bool IsDarkPalette(const QPalette& palette);

}  // namespace deck
