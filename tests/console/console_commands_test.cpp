// The console's drive command buttons: what each prints and the bytes it sends.
#include <QEventLoop>
#include <QTimer>
#include <future>

#include "console_fixture.h"
#include "tape/lock_limits.h"
#include "tape/unit_mode.h"

namespace console_test {
namespace {

using testing_support::CheckCondition;
using testing_support::WithStatus;

TEST_F(ConsoleTest, TestUnitReadyPrintsTheCodeWithItsSignSpace)
{
    Press("cmdTestUnitReady");
    EXPECT_EQ(Output(), " 6\n");
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0].cdb, Bytes({0, 0, 0, 0, 0, 0}));

    AnswerAll(WithStatus(SS_ABORTED));
    Press("cmdTestUnitReady");
    EXPECT_EQ(messages, std::vector<std::string>{"Error in TestUnitReady function: SRB Command status= 2."});
    EXPECT_EQ(Output(), "-99\n") << "the area is cleared before each print";
    EXPECT_TRUE(Button("cmdTestUnitReady")->isEnabled());
}

TEST_F(ConsoleTest, ModeButtonsSendTheirParameterLists)
{
    for (const char* name : {"cmdAudioModeSelect", "cmdBuffered", "cmdUnBuffered", "cmdDataModeSelect"})
        Press(name);
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 4u);
    for (const SentCommand& c : sent) {
        EXPECT_EQ(c.cdb, Bytes({0x15, 0, 0, 0, 0x0C, 0}));
        EXPECT_EQ(c.direction, aspi::Direction::Out);
    }
    const std::vector<std::uint8_t> audio(kAudioModeList.begin(), kAudioModeList.end());
    EXPECT_EQ(sent[0].dataOut, audio);
    EXPECT_EQ(sent[1].dataOut, audio) << "Buffered sends the same bytes as Audio Mode";
    EXPECT_EQ(sent[2].dataOut, Bytes({0, 0, 0x00, 8, 0x80, 0, 0, 0, 0, 0, 2, 0}));
    EXPECT_EQ(sent[3].dataOut, Bytes({0, 0, 0x10, 8, 0x00, 0, 0, 0, 0, 0, 2, 0}));
    EXPECT_EQ(Output(), "") << "mode selection prints nothing";
}

TEST_F(ConsoleTest, ModeSenseDumpsTheBytesBackwardsAndLeavesTheLineOpen)
{
    AnswerData(0x1A, {0x0B, 0x00, 0x10, 0x08, 0x80, 0, 0, 0, 0, 0, 0x02, 0x00});
    Press("cmdModeSense");
    EXPECT_EQ(Output(), "0-2-0-0-0-0-0-80-8-10-0-B-");
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0].cdb, Bytes({0x1A, 0, 0, 0, 0x0C, 0}));

    // A drive that does not answer leaves the fresh buffer as it was.
    AnswerAll(WithStatus(SS_ERR));
    Press("cmdModeSense");
    EXPECT_EQ(Output(), "0-0-0-0-0-0-0-0-0-0-0-0-");
}

TEST_F(ConsoleTest, LocateAbsoluteTimeTakesTheFieldsByPosition)
{
    const struct {
        const char* text;
        std::vector<std::uint8_t> cdb;
    } cases[] = {
        {"00:59:30", {0x2B, 0x04, 0x00, 0x20, 0x00, 0x59, 0x30, 0, 0, 0}},
        {"1:2:3", {0x2B, 0x04, 0x00, 0x20, 0x01, 0x00, 0x00, 0, 0, 0}},  // ":3" reads as 0
        {"12:34:56", {0x2B, 0x04, 0x00, 0x20, 0x12, 0x34, 0x56, 0, 0, 0}},
        {" 2:x5:.5", {0x2B, 0x04, 0x00, 0x20, 0x02, 0x00, 0x00, 0, 0, 0}},  // .5 rounds to even 0
        {"", {0x2B, 0x04, 0x00, 0x20, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        bus->clear();
        Type("txtAbsTime", c.text);
        Press("cmdLocateAbsTime");
        ASSERT_EQ(Sent().size(), 1u) << c.text;
        EXPECT_EQ(Sent()[0].cdb, c.cdb) << c.text;
    }
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(Button("cmdLocateAbsTime")->isEnabled());
}

TEST_F(ConsoleTest, LocateProgramSendsThreeDigitsUpTo799)
{
    const struct {
        const char* text;
        std::vector<std::uint8_t> address;
    } cases[] = {
        {"1", {0, 0, 1}}, {"0", {0, 0, 0}}, {"799", {7, 9, 9}}, {"123abc", {1, 2, 3}},
        {"2.5", {0, 0, 2}}, {"3.5", {0, 0, 4}}, {"abc", {0, 0, 0}},
    };
    for (const auto& c : cases) {
        bus->clear();
        Type("txtProgNum", c.text);
        Press("cmdLocateProgram");
        ASSERT_EQ(Sent().size(), 1u) << c.text;
        std::vector<std::uint8_t> cdb{0x2B, 0x04, 0x00, 0x00};
        cdb.insert(cdb.end(), c.address.begin(), c.address.end());
        cdb.insert(cdb.end(), {0, 0, 0});
        EXPECT_EQ(Sent()[0].cdb, cdb) << c.text;
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(ConsoleTest, ProgramAbove799IsRefusedWithItsMessage)
{
    for (const char* text : {"800", "799.5", "1e9", "99999999999999999999"}) {
        messages.clear();
        Type("txtProgNum", text);
        Press("cmdLocateProgram");
        EXPECT_EQ(messages, std::vector<std::string>{"Program number exceeds 799."}) << text;
    }
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Button("cmdLocateProgram")->isEnabled());
}

TEST_F(ConsoleTest, NegativeEntriesAreRefusedAndNothingIsSent)
{
    Type("txtProgNum", "-5");
    Press("cmdLocateProgram");
    Type("txtProgNum", "-0.2");
    Press("cmdLocateProgram");
    for (const char* time : {"-1:00:00", "00:-5:00", "00:00:-9"}) {
        Type("txtAbsTime", time);
        Press("cmdLocateAbsTime");
    }
    EXPECT_TRUE(Sent().empty());
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_NE(messages[0].find("negative"), std::string::npos) << messages[0];
    EXPECT_NE(messages[2].find("negative"), std::string::npos) << messages[2];
    EXPECT_TRUE(Button("cmdLocateProgram")->isEnabled());
    EXPECT_TRUE(Button("cmdLocateAbsTime")->isEnabled());
}

TEST_F(ConsoleTest, RewindEjectAndTheLockSendTheirCommands)
{
    AnswerAll(WithStatus(SS_ERR));  // results are not shown, failures included
    Press("cmdRewind");
    Press("cmdEjectTape");
    Press("cmdPreventEject");
    Press("cmdAllowEject");
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].cdb, Bytes({0x01, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent[1].cdb, Bytes({0x1B, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent[2].cdb, Bytes({0x1E, 0, 0, 0, 0x01, 0}));
    EXPECT_EQ(sent[3].cdb, Bytes({0x1E, 0, 0, 0, 0x00, 0}));
    for (const SentCommand& c : sent)
        EXPECT_EQ(c.target, kTarget);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Output(), "");
}

TEST_F(ConsoleTest, CommandsGoToTheDriveChosenAtStartUpNotTheTapeIdBox)
{
    Type("txtTapeID", "2");
    AspiTarget = 5;
    Press("cmdRewind");
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0].target, 5);
}

TEST_F(ConsoleTest, BlockLimitsPrintsMinimumThenMaximum)
{
    AnswerData(0x05, {0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x01});
    Press("cmdReadBlockLimits");
    EXPECT_EQ(Output(), FormatBlockLimits({0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x01}) + "\n");
    const std::string out = Output();
    const auto minimum = out.find(" 1");
    EXPECT_EQ(minimum, 0u);
    EXPECT_NE(out.find(" 16777215", minimum + 2), std::string::npos) << out;
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0].cdb, Bytes({0x05, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Sent()[0].length, 6u);

    AnswerAll(WithStatus(SS_ERR));
    Press("cmdReadBlockLimits");
    EXPECT_EQ(Output(), FormatBlockLimits({}) + "\n");
}

// The record of the worked example: program 123, index 1, 0:5:9 frame 12, 1:2:3 frame 4.
const std::vector<std::uint8_t> kKnownRecord{0,    0,    0,    0,    0x01, 0x02, 0x03, 0x01, 0x00, 0x05,
                                             0x09, 0x12, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00};

TEST_F(ConsoleTest, ReadPositionPrintsTheEightLines)
{
    AnswerData(0x34, kKnownRecord);
    Press("cmdReadPosition");
    Press("cmdReadPosition");  // shows only the second report
    EXPECT_EQ(Output(),
              "Program # = 123\nIndex # = 1\nProgram Time = 0:5:9\nProgram Frame = 12\n"
              "Absolute Time = 1:2:3\nAbsolute Frame = 4\nRun Time = 0:0:0\nRun Frame = 0\n");
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].cdb, Bytes({0x34, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent[0].length, 20u);
    EXPECT_TRUE(Button("cmdReadPosition")->isEnabled());
}

TEST_F(ConsoleTest, ReadPositionAtTheEndOfTapeAndOnASilentDrive)
{
    std::vector<std::uint8_t> record(20, 0);
    record[5] = 0x0E;
    record[6] = 0x0E;
    AnswerData(0x34, record);
    Press("cmdReadPosition");
    EXPECT_EQ(Output().substr(0, Output().find('\n')), "Program # = 0EE");

    AnswerAll(WithStatus(SS_ERR));
    Press("cmdReadPosition");
    EXPECT_EQ(Output(),
              "Program # = 000\nIndex # = 0\nProgram Time = 0:0:0\nProgram Frame = 0\n"
              "Absolute Time = 0:0:0\nAbsolute Frame = 0\nRun Time = 0:0:0\nRun Frame = 0\n");
}

// Runs the event loop until `timer` has fired (and its other slots have run).
void WaitForTick(QTimer* timer)
{
    QEventLoop loop;
    QObject::connect(timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST_F(ConsoleTest, DisplaySwitchStartsAndStopsThePeriodicReport)
{
    AnswerData(0x34, kKnownRecord);
    auto* timer = window->findChild<QTimer*>(QStringLiteral("tmrReadPosition"));
    QPushButton* toggle = Button("cmdTimerOnOff");

    toggle->click();
    EXPECT_EQ(toggle->text(), QStringLiteral("Display Off"));
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 100);
    WaitForTick(timer);
    EXPECT_EQ(Output().substr(0, 16), "Program # = 123\n");
    EXPECT_TRUE(Button("cmdReadPosition")->isEnabled()) << "a tick touches no button";

    toggle->click();
    EXPECT_EQ(toggle->text(), QStringLiteral("Display On"));
    EXPECT_FALSE(timer->isActive());
}

// Holds the first READ POSITION on the manager's thread until the test lets it go.
class HeldPosition {
public:
    explicit HeldPosition(testing_support::ScriptedBackend* bus)
    {
        bus->answer = [state = state_](const aspi::ExecRequest& req) {
            if (req.cdb[0] == 0x34 && !state->held.exchange(true))
                state->released.wait();
            return aspi::ExecResult{};
        };
    }
    ~HeldPosition() { release(); }
    void release()
    {
        if (!released_) {
            released_ = true;
            state_->release.set_value();
        }
    }

private:
    struct State {
        std::atomic<bool> held{false};
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    bool released_ = false;
};

TEST_F(ConsoleTest, NoTickStartsWhileTheLastTicksReadPositionWaits)
{
    HeldPosition held(bus);
    auto* timer = window->findChild<QTimer*>(QStringLiteral("tmrReadPosition"));
    // A second clock of the same period: after three of its ticks the display's timer has
    // had time for several more, all of them inside the held command's wait.
    QTimer watch;
    watch.setInterval(100);
    int watched = 0;
    std::size_t sentWhileHeld = 0;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (++watched == 3) {
            watch.stop();
            sentWhileHeld = Sent().size();
            held.release();
        }
    });
    Press("cmdTimerOnOff");
    watch.start();
    WaitForTick(timer);  // returns when the first tick's handler has finished
    Press("cmdTimerOnOff");
    EXPECT_EQ(watched, 3);
    EXPECT_EQ(sentWhileHeld, 1u);
    EXPECT_EQ(Output().substr(0, 16), "Program # = 000\n");
}

}  // namespace
}  // namespace console_test
