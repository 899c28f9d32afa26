#include "archive/error_map.h"

#include <QCryptographicHash>
#include <QXmlStreamReader>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/io/unique_fd.h"

namespace archive {

namespace {

constexpr double kLeft = 96, kRight = 16, kPlot = kMapWidth - kLeft - kRight;
constexpr double kMinMark = 1.5;  // a single frame of a long tape stays visible
constexpr const char* kMapClass = "vantrel-error-map";

struct Row {
    const char* cls;
    const char* label;
    double y, h;
    const char* fill;
};
constexpr Row kPrograms{"program", "Programs", 26, 28, "#4e79a7"};
constexpr Row kMarks[] = {
    {"unreadable", "Unreadable", 62, 20, "#d62728"},
    {"concealed", "Concealed", 88, 20, "#ff9f1c"},
    {"recovered", "Recovered", 114, 20, "#2ca02c"},
};
constexpr double kAxisY = 142;

std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

std::string Escape(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The absolute time nearest `at` (a frame with one at or after it, else before it).
std::string TimeNear(const std::vector<FrameRecord>& records, std::size_t at)
{
    for (std::size_t i = at; i < records.size() && i < at + 2000; ++i)
        if (records[i].absolute >= 0)
            return IndexText(records[i].absolute);
    for (std::size_t i = std::min(at, records.size()); i-- > 0 && i + 2000 > at;)
        if (records[i].absolute >= 0)
            return IndexText(records[i].absolute);
    return "#" + std::to_string(at);
}

std::string ProgramName(const FrameRecord& r)
{
    using Kind = dat::ProgramNumber::Kind;
    if (r.kind == Kind::Number)
        return std::to_string(r.program);
    if (r.kind == Kind::LeadIn)
        return "lead-in";
    if (r.kind == Kind::LeadOut)
        return "lead-out";
    return "";  // unreadable, or no program number: part of what surrounds it
}

struct Span {
    std::size_t first = 0, count = 0;
    std::string name;
};

class Drawing {
public:
    explicit Drawing(const std::vector<FrameRecord>& records) : records_(records) {}

    double X(std::size_t position) const
    {
        return kLeft + kPlot * static_cast<double>(position) / static_cast<double>(records_.size());
    }

    void Mark(const Row& row, const Span& s, const std::string& fill, const std::string& tip)
    {
        MapShape m;
        m.cls = row.cls;
        m.first = s.first;
        m.count = s.count;
        m.w = std::max(kMinMark, X(s.first + s.count) - X(s.first));
        m.x = std::min(X(s.first), kLeft + kPlot - m.w);
        m.y = row.y;
        m.h = row.h;
        m.fill = fill;
        m.text = tip;
        shapes.push_back(std::move(m));
    }

    void Box(double x, double y, double w, double h, const char* fill, const char* cls)
    {
        MapShape b;
        b.x = x;
        b.y = y;
        b.w = w;
        b.h = h;
        b.fill = fill;
        b.cls = cls;
        shapes.push_back(std::move(b));
    }

    void Text(double x, double y, double size, const std::string& text, const char* fill, bool middle,
              const char* cls = "label")
    {
        MapShape t;
        t.kind = MapShape::Kind::Text;
        t.x = x;
        t.y = y;
        t.h = size;
        t.text = text;
        t.fill = fill;
        t.middle = middle;
        t.cls = cls;
        shapes.push_back(std::move(t));
    }

    std::string Place(const Span& s) const
    {
        const std::size_t last = s.first + s.count - 1;
        std::string text = TimeNear(records_, s.first);
        if (s.count > 1)
            text += " - " + TimeNear(records_, last);
        text += " (tape.dat frame " + std::to_string(s.first);
        if (s.count > 1)
            text += " to " + std::to_string(last);
        return text + ")";
    }

    std::vector<MapShape> shapes;

private:
    const std::vector<FrameRecord>& records_;
};

std::vector<Span> ProgramSpans(const std::vector<FrameRecord>& records)
{
    std::vector<Span> spans;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string name = ProgramName(records[i]);
        if (!spans.empty() && (name.empty() || name == spans.back().name) &&
            spans.back().first + spans.back().count == i) {
            ++spans.back().count;
            continue;
        }
        if (!name.empty())
            spans.push_back({i, 1, name});
    }
    return spans;
}

std::vector<Span> StateSpans(const std::vector<FrameRecord>& records, FrameState state)
{
    std::vector<Span> spans;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].state != state)
            continue;
        if (!spans.empty() && spans.back().first + spans.back().count == i)
            ++spans.back().count;
        else
            spans.push_back({i, 1, {}});
    }
    return spans;
}

std::string Attribute(const QXmlStreamAttributes& a, const char* name)
{
    return a.value(QLatin1String(name)).toString().toStdString();
}

double Real(const QXmlStreamAttributes& a, const char* name) { return a.value(QLatin1String(name)).toDouble(); }

}  // namespace

std::vector<MapShape> MapShapes(const std::vector<FrameRecord>& records)
{
    Drawing d(records);
    const FrameState states[] = {FrameState::Unreadable, FrameState::Concealed, FrameState::Recovered};
    std::size_t counts[3] = {};
    for (const FrameRecord& r : records)
        for (int k = 0; k < 3; ++k)
            counts[k] += r.state == states[k];
    std::string title = std::to_string(records.size()) + " frames";
    if (!records.empty())
        title += ", " + TimeNear(records, 0) + " to " + TimeNear(records, records.size() - 1);
    title += ": " + std::to_string(counts[0]) + " unreadable, " + std::to_string(counts[1]) + " concealed, " +
             std::to_string(counts[2]) + " recovered";
    d.Text(kLeft, 16, 12, title, "#222222", false, "title");

    d.Box(kLeft, kPrograms.y, kPlot, kPrograms.h, "#eeeeee", "track");
    d.Text(8, kPrograms.y + kPrograms.h / 2 + 4, 12, kPrograms.label, "#222222", false);
    for (const Row& row : kMarks) {
        d.Box(kLeft, row.y, kPlot, row.h, "#eeeeee", "track");
        d.Text(8, row.y + row.h / 2 + 4, 12, row.label, "#222222", false);
    }
    if (records.empty()) {
        d.Text(kLeft + kPlot / 2, kAxisY + 16, 11, "no frames", "#222222", true);
        return std::move(d.shapes);
    }

    bool dark = false;
    for (const Span& s : ProgramSpans(records)) {
        const bool numbered = std::isdigit(static_cast<unsigned char>(s.name[0]));
        const std::string fill = !numbered ? "#9a9a9a" : dark ? "#4e79a7" : "#86b0dc";
        dark = numbered ? !dark : dark;
        const std::string what = numbered ? "Program " + s.name : s.name;
        d.Mark(kPrograms, s, fill, what + ": " + d.Place(s));
        const MapShape& box = d.shapes.back();
        // The program's number inside its box when it fits.
        if (box.w >= 7.0 * static_cast<double>(s.name.size()) + 4 && numbered)
            d.Text(box.x + box.w / 2, kPrograms.y + kPrograms.h / 2 + 4, 11, s.name, "#ffffff", true);
    }
    for (int k = 0; k < 3; ++k) {
        const Row& row = kMarks[k];
        std::string what = row.label;
        for (const Span& s : StateSpans(records, states[k]))
            d.Mark(row, s, row.fill,
                   what + ": " + std::to_string(s.count) + (s.count == 1 ? " frame at " : " frames at ") + d.Place(s));
    }

    d.Box(kLeft, kAxisY, kPlot, 1, "#222222", "axis");
    constexpr int kTicks = 5;
    for (int t = 0; t < kTicks; ++t) {
        const std::size_t at =
            std::min(records.size() - 1, records.size() * static_cast<std::size_t>(t) / (kTicks - 1));
        const double x = t == kTicks - 1 ? kLeft + kPlot : d.X(at);
        d.Box(x - 0.5, kAxisY, 1, 5, "#222222", "axis");
        d.Text(std::clamp(x, kLeft + 30, kLeft + kPlot - 30), kAxisY + 18, 11, TimeNear(records, at), "#222222", true,
               "tick");
    }
    return std::move(d.shapes);
}

std::string MapSvg(const std::vector<MapShape>& shapes, std::uint64_t frames)
{
    const std::string w = Number(kMapWidth), h = Number(kMapHeight);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"" +
                      std::string(kMapClass) + "\" width=\"" + w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " +
                      h + "\" data-frames=\"" + std::to_string(frames) +
                      "\" font-family=\"sans-serif\">\n"
                      "<rect class=\"background\" x=\"0\" y=\"0\" width=\"" +
                      w + "\" height=\"" + h + "\" fill=\"#ffffff\"/>\n";
    for (const MapShape& s : shapes) {
        if (s.kind == MapShape::Kind::Text) {
            svg += "<text class=\"" + s.cls + "\" x=\"" + Number(s.x) + "\" y=\"" + Number(s.y) + "\" font-size=\"" +
                   Number(s.h) + "\" fill=\"" + s.fill + "\"" + (s.middle ? " text-anchor=\"middle\"" : "") + ">" +
                   Escape(s.text) + "</text>\n";
            continue;
        }
        svg += "<rect class=\"" + s.cls + "\" x=\"" + Number(s.x) + "\" y=\"" + Number(s.y) + "\" width=\"" +
               Number(s.w) + "\" height=\"" + Number(s.h) + "\" fill=\"" + s.fill + "\"";
        if (s.count > 0)
            svg += " data-first=\"" + std::to_string(s.first) + "\" data-count=\"" + std::to_string(s.count) + "\"";
        svg += s.text.empty() ? "/>\n" : "><title>" + Escape(s.text) + "</title></rect>\n";
    }
    return svg + "</svg>\n";
}

::Result<std::vector<MapShape>> ReadMapShapes(const std::string& svg)
{
    using R = ::Result<std::vector<MapShape>>;
    QXmlStreamReader xml(QByteArray::fromStdString(svg));
    std::vector<MapShape> shapes;
    bool root = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        const QStringView name = xml.name();
        if (!root) {
            if (name != QLatin1String("svg") || a.value(QLatin1String("class")) != QLatin1String(kMapClass))
                return R::Error("not an error map of an archive package");
            root = true;
            continue;
        }
        if (name != QLatin1String("rect") && name != QLatin1String("text"))
            continue;
        MapShape s;
        s.kind = name == QLatin1String("text") ? MapShape::Kind::Text : MapShape::Kind::Rect;
        s.cls = Attribute(a, "class");
        if (s.cls == "background")
            continue;
        s.x = Real(a, "x");
        s.y = Real(a, "y");
        s.fill = Attribute(a, "fill");
        if (s.kind == MapShape::Kind::Text) {
            s.h = Real(a, "font-size");
            s.middle = a.value(QLatin1String("text-anchor")) == QLatin1String("middle");
            s.text = xml.readElementText().toStdString();
        } else {
            s.w = Real(a, "width");
            s.h = Real(a, "height");
            s.first = a.value(QLatin1String("data-first")).toULongLong();
            s.count = a.value(QLatin1String("data-count")).toULongLong();
            if (xml.readNextStartElement() && xml.name() == QLatin1String("title"))
                s.text = xml.readElementText().toStdString();
        }
        shapes.push_back(std::move(s));
    }
    if (xml.hasError())
        return R::Error("the error map is not well-formed: " + xml.errorString().toStdString());
    if (!root)
        return R::Error("not an error map of an archive package");
    return shapes;
}

::Result<WrittenFile> WriteErrorMap(const std::string& dir, const std::vector<FrameRecord>& records)
{
    using R = ::Result<WrittenFile>;
    const std::string text = MapSvg(MapShapes(records), records.size());
    WrittenFile out;
    out.path = "data/error-map.svg";
    // The temporary file stays out of data/, where a leftover would be an unlisted payload file.
    const std::string temp = dir + "/.error-map.svg.part", final = dir + "/" + out.path;
    auto failed = [&](const std::string& what) {
        const std::string why = std::strerror(errno);
        ::unlink(temp.c_str());
        return R::Error(out.path + " could not be written (" + what + "): " + why);
    };
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd)
        return failed("create");
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failed("write");
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0)
        return failed("flush");
    if (!fd.close())
        return failed("close");
    if (::rename(temp.c_str(), final.c_str()) != 0)
        return failed("rename");
    // The rename itself is durable once the folder is flushed.
    if (UniqueFd folder(::open((dir + "/data").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); folder)
        (void)::fsync(folder.get());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    out.bytes = text.size();
    out.sha256 = hash.result().toHex().toStdString();
    return out;
}

}  // namespace archive
