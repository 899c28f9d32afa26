// The error map of an archive package, data/error-map.svg: a timeline of the tape (positions
// in data/tape.dat, absolute times along its foot) with the programs, the unreadable and
// concealed places and the frames recovered on a later read marked where they are. Each mark
// carries its place (data-first, data-count: positions in tape.dat) so that a tool can read it
// back, and a tooltip. The progress window draws the same shapes from the file.
//
//   ::Result<WrittenFile> w = archive::WriteErrorMap(dir, records);
//   ::Result<std::vector<archive::MapShape>> shapes = archive::ReadMapShapes(svgText);
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/package_io.h"
#include "archive/records.h"
#include "platform/io/result.h"

namespace archive {

// The drawing's own size; a viewer scales it.
inline constexpr double kMapWidth = 960;
inline constexpr double kMapHeight = 172;

struct MapShape {
    enum class Kind { Rect, Text };
    Kind kind = Kind::Rect;
    double x = 0, y = 0, w = 0, h = 0;   // a text: its baseline point and font size (h)
    std::string fill;                    // "#rrggbb"
    std::string text;                    // a text's words; a mark's tooltip
    std::string cls;                     // "program", "unreadable", "concealed", "recovered", ...
    std::uint64_t first = 0, count = 0;  // a mark's tape.dat positions
    bool middle = false;                 // a text centred on x
};

// The shapes of the map of `records`.
std::vector<MapShape> MapShapes(const std::vector<FrameRecord>& records);
// The shapes as an SVG document.
std::string MapSvg(const std::vector<MapShape>& shapes, std::uint64_t frames);
// The shapes of a map this program wrote, read back for drawing; an error when the text is
// not well-formed XML or not such a map.
::Result<std::vector<MapShape>> ReadMapShapes(const std::string& svg);

// Writes data/error-map.svg into the package at `dir` crash-safe (a temporary file beside the
// payload, flushed, then renamed into place), with its digest for the manifest.
::Result<WrittenFile> WriteErrorMap(const std::string& dir, const std::vector<FrameRecord>& records);

}  // namespace archive
