// Numbers out of text boxes, and the output area's print, open lines and clear.
#include <QPixmap>
#include <cmath>
#include <gtest/gtest.h>

#include "console/entry_text.h"
#include "console/output_box.h"

namespace {

TEST(LeadingNumber, ReadsTheNumberAtTheStartOnly)
{
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"42", 42},     {"  7", 7},     {"\t3x", 3},   {"12:30", 12}, {":3", 0},    {"", 0},
        {"abc", 0},     {"-5", -5},     {"+6", 6},     {"2.5", 2.5},  {".5", 0.5},  {"5.", 5},
        {"1e2", 100},   {"1E+1", 10},   {"1e", 1},     {"3e-x", 3},   {"-", 0},     {".", 0},
        {"1 2", 1},     {"0x10", 0},    {"1,5", 1},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(LeadingNumber(QString::fromLatin1(c.text)), c.value) << c.text;
    EXPECT_TRUE(std::isinf(LeadingNumber(QStringLiteral("1e999"))));
    EXPECT_EQ(LeadingNumber(QStringLiteral("1e-999")), 0.0);
}

TEST(RoundHalfEven, ExactHalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
    EXPECT_EQ(RoundHalfEven(2.51), 3);
    EXPECT_EQ(RoundHalfEven(799.5), 800);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
}

TEST(TimeFields, TakesCharacters1To2And4To5AndTheLastTwo)
{
    using F = std::array<double, 3>;
    EXPECT_EQ(TimeFields(QStringLiteral("00:59:30")), (F{0, 59, 30}));
    EXPECT_EQ(TimeFields(QStringLiteral("1:2:3")), (F{1, 0, 0}));
    EXPECT_EQ(TimeFields(QStringLiteral("01:02:03")), (F{1, 2, 3}));
    EXPECT_EQ(TimeFields(QStringLiteral("1")), (F{1, 0, 1})) << "a short text is its own last two characters";
    EXPECT_EQ(TimeFields(QStringLiteral("")), (F{0, 0, 0}));
    EXPECT_EQ(TimeFields(QStringLiteral("01:02:03:45")), (F{1, 2, 45}));
}

TEST(OutputBox, PrintsEndOrLeaveTheLineOpenAndClearEmpties)
{
    OutputBox box;
    box.print(std::string("0-"), false);
    box.print(std::string("B-"), false);
    EXPECT_EQ(box.text(), QStringLiteral("0-B-"));
    box.print(std::string(" 6"));
    EXPECT_EQ(box.text(), QStringLiteral("0-B- 6\n")) << "the next print continues an open line";
    box.print(QStringLiteral("next"));
    EXPECT_EQ(box.text(), QStringLiteral("0-B- 6\nnext\n"));
    box.clear();
    EXPECT_EQ(box.text(), QString());
}

TEST(OutputBox, RepaintingShowsTheTextAgain)
{
    OutputBox box;
    box.resize(185, 297);
    box.print(std::string("Program # = 123"));
    const QImage first = box.grab().toImage();
    const QImage again = box.grab().toImage();  // a covered window repaints the same way
    EXPECT_EQ(first, again);
    box.clear();
    EXPECT_NE(box.grab().toImage(), first);
}

}  // namespace
