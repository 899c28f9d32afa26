// The error map drawn from frame records laid out by hand: each state's marks where its frames
// are, the programs around unreadable frames, the file read back as it was written, and the
// file written whole or not at all.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include "archive/error_map.h"
#include "archive/package_io.h"

namespace {

using archive::FrameRecord;
using archive::FrameState;
using archive::MapShape;
using Kind = dat::ProgramNumber::Kind;

// Lead-in 10, program 1 390, program 2 300, lead-out 300 frames; unreadable 100-101 (no
// program number, as a lost frame has none), concealed 500-504, recovered 650 and 651.
std::vector<FrameRecord> FaultyTape()
{
    std::vector<FrameRecord> tape(1000);
    for (std::size_t i = 0; i < tape.size(); ++i) {
        FrameRecord& r = tape[i];
        r.kind = i < 10 ? Kind::LeadIn : i < 700 ? Kind::Number : Kind::LeadOut;
        r.program = i < 400 ? 1 : 2;
        r.absolute = i >= 10 && i < 700 ? static_cast<std::int32_t>(i - 10) : -1;
    }
    for (std::size_t i : {100, 101}) {
        tape[i].kind = Kind::Invalid;
        tape[i].state = FrameState::Unreadable;
    }
    for (std::size_t i = 500; i < 505; ++i)
        tape[i].state = FrameState::Concealed;
    tape[650].state = tape[651].state = FrameState::Recovered;
    return tape;
}

std::vector<MapShape> Marks(const std::vector<MapShape>& shapes, const std::string& cls)
{
    std::vector<MapShape> out;
    for (const MapShape& s : shapes)
        if (s.kind == MapShape::Kind::Rect && s.cls == cls)
            out.push_back(s);
    return out;
}

TEST(ErrorMap, EachStateIsMarkedWhereItsFramesAreAndTheProgramsSpanTheLostFrames)
{
    const std::vector<MapShape> shapes = archive::MapShapes(FaultyTape());
    const auto unreadable = Marks(shapes, "unreadable"), concealed = Marks(shapes, "concealed"),
               recovered = Marks(shapes, "recovered"), programs = Marks(shapes, "program");
    ASSERT_EQ(unreadable.size(), 1u);
    EXPECT_EQ(unreadable[0].first, 100u);
    EXPECT_EQ(unreadable[0].count, 2u);
    ASSERT_EQ(concealed.size(), 1u);
    EXPECT_EQ(concealed[0].first, 500u);
    EXPECT_EQ(concealed[0].count, 5u);
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_EQ(recovered[0].first, 650u);
    EXPECT_EQ(recovered[0].count, 2u);
    // The tooltip says where, by absolute time as the reports do.
    EXPECT_NE(unreadable[0].text.find("00:00:02.24"), std::string::npos) << unreadable[0].text;

    // Lead-in, program 1 (over its lost frames, not cut in two), program 2, lead-out.
    ASSERT_EQ(programs.size(), 4u);
    EXPECT_EQ(programs[0].first, 0u);
    EXPECT_EQ(programs[1].first, 10u);
    EXPECT_EQ(programs[1].count, 390u);
    EXPECT_EQ(programs[2].first, 400u);
    EXPECT_EQ(programs[3].first, 700u);
    EXPECT_EQ(programs[3].count, 300u);

    // Marks stand at their share of the width, in position order, and a single frame of a
    // long tape keeps a visible width.
    EXPECT_LT(unreadable[0].x, concealed[0].x);
    EXPECT_LT(concealed[0].x, recovered[0].x);
    EXPECT_NEAR((concealed[0].x - programs[0].x) / (programs[3].x + programs[3].w - programs[0].x), 0.5, 0.002);
    std::vector<FrameRecord> longTape(200000);
    longTape[123456].state = FrameState::Unreadable;
    const auto one = Marks(archive::MapShapes(longTape), "unreadable");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_GE(one[0].w, 1.0);
}

TEST(ErrorMap, TheFileIsWellFormedSvgAndReadsBackAsWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir("data"));
    const std::string root = dir.path().toStdString();
    const std::vector<FrameRecord> tape = FaultyTape();
    const ::Result<archive::WrittenFile> written = archive::WriteErrorMap(root, tape);
    ASSERT_TRUE(written) << written.error();
    EXPECT_EQ(written->path, "data/error-map.svg");

    // Its digest and size are the file's; nothing but the map is left in the folders.
    const std::string path = root + "/data/error-map.svg";
    const ::Result<std::string> digest = archive::HashFile(path);
    ASSERT_TRUE(digest);
    EXPECT_EQ(*digest, written->sha256);
    EXPECT_EQ(static_cast<std::uint64_t>(QFileInfo(QString::fromStdString(path)).size()), written->bytes);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"data"});
    EXPECT_EQ(QDir(dir.filePath("data")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"error-map.svg"});

    const std::string text = archive::ReadText(path);
    QXmlStreamReader xml(QByteArray::fromStdString(text));
    ASSERT_TRUE(xml.readNextStartElement());
    EXPECT_EQ(xml.name(), QLatin1String("svg"));
    EXPECT_EQ(xml.namespaceUri(), QLatin1String("http://www.w3.org/2000/svg"));
    EXPECT_EQ(xml.attributes().value("data-frames"), QLatin1String("1000"));
    while (!xml.atEnd())
        xml.readNext();
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();

    const ::Result<std::vector<MapShape>> back = archive::ReadMapShapes(text);
    ASSERT_TRUE(back) << back.error();
    const std::vector<MapShape> drawn = archive::MapShapes(tape);
    ASSERT_EQ(back->size(), drawn.size());
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ((*back)[i].kind, drawn[i].kind);
        EXPECT_EQ((*back)[i].cls, drawn[i].cls);
        EXPECT_EQ((*back)[i].text, drawn[i].text);
        EXPECT_EQ((*back)[i].first, drawn[i].first);
        EXPECT_EQ((*back)[i].count, drawn[i].count);
        EXPECT_NEAR((*back)[i].x, drawn[i].x, 0.01);
        EXPECT_NEAR((*back)[i].w, drawn[i].w, 0.01);
    }

    // Cut short, or some other document: refused, not drawn half.
    EXPECT_FALSE(archive::ReadMapShapes(text.substr(0, text.size() / 2)));
    EXPECT_FALSE(archive::ReadMapShapes("<svg xmlns=\"http://www.w3.org/2000/svg\"><rect/></svg>"));

    // A place it cannot be renamed into (a folder of that name): an error, the map that was
    // there is not half replaced, and no part of the new one is left behind.
    ASSERT_TRUE(QFile::remove(QString::fromStdString(path)));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path + "/kept")));
    const ::Result<archive::WrittenFile> refused = archive::WriteErrorMap(root, tape);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("data/error-map.svg"), std::string::npos) << refused.error();
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(path + "/kept")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"data"});
}

}  // namespace
