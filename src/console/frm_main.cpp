#include "console/frm_main.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "audio/capture.h"
#include "audio/frame_reader.h"
#include "audio/playback.h"
#include "console/console_window.h"
#include "console/device_listing.h"
#include "console/entry_text.h"
#include "console/output_box.h"
#include "platform/ui/message_box.h"
#include "tape/eject_read.h"
#include "tape/lock_limits.h"
#include "tape/position_record.h"
#include "tape/positioning.h"
#include "tape/unit_mode.h"
#include "transport/basic_text.h"
#include "transport/drive_state.h"

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kMaxProgramNumber = 799;
constexpr int kFontPixels = 11;
constexpr int kMinFontPixels = 8;
constexpr int kAdapterTableSize = static_cast<int>(std::tuple_size_v<decltype(Adapters)>);

enum class Kind { Label, TextBox, Button, Output };

// The console's controls: position and size in twips, as the window was laid out, and the
// tab order.
struct ControlSpec {
    const char* name;
    Kind kind;
    const char* text;
    int left, top, width, height;
    int tab;
};

constexpr std::array<ControlSpec, 28> kControls{{
    {"lblAdapterNum", Kind::Label, "Enter adapter # to query:", 360, 360, 1815, 375, 2},
    {"txtAdapterNum", Kind::TextBox, "0", 2280, 360, 495, 285, 0},
    {"cmdGetDevType", Kind::Button, "Get Device Type", 840, 840, 1455, 495, 1},
    {"picOutput", Kind::Output, "", 240, 1560, 2775, 4455, 3},
    {"lblTapeID", Kind::Label, "Enter ID of Tape Drive:", 3600, 360, 1695, 255, 5},
    {"txtTapeID", Kind::TextBox, "0", 5400, 360, 495, 285, 6},
    {"cmdEjectTape", Kind::Button, "Eject Tape", 4080, 840, 1335, 495, 4},
    {"cmdPreventEject", Kind::Button, "Prevent Eject", 4080, 1800, 1335, 495, 12},
    {"cmdAllowEject", Kind::Button, "Allow Eject", 4080, 2760, 1335, 495, 13},
    {"cmdReadBlockLimits", Kind::Button, "Block Limits", 4080, 3720, 1335, 495, 10},
    {"cmdTestUnitReady", Kind::Button, "Test Unit Ready", 6120, 840, 1335, 495, 11},
    {"cmdModeSense", Kind::Button, "Mode Sense", 6120, 1800, 1335, 495, 7},
    {"cmdDataModeSelect", Kind::Button, "Data Mode", 6120, 2760, 1335, 495, 8},
    {"cmdAudioModeSelect", Kind::Button, "Audio Mode", 6120, 3720, 1335, 495, 9},
    {"cmdRewind", Kind::Button, "Rewind", 8040, 840, 1335, 495, 15},
    {"cmdPlay", Kind::Button, "Play", 8040, 1800, 1335, 495, 14},
    {"cmdStop", Kind::Button, "Stop", 8040, 2760, 1335, 495, 16},
    {"cmdReadTape", Kind::Button, "Read Tape", 8040, 3720, 1335, 495, 17},
    {"cmdUnBuffered", Kind::Button, "Unbuffered", 9960, 840, 1335, 495, 24},
    {"cmdBuffered", Kind::Button, "Buffered", 9960, 1800, 1335, 495, 25},
    {"cmdReadPosition", Kind::Button, "Read Position", 9960, 2760, 1335, 495, 26},
    {"cmdTimerOnOff", Kind::Button, "Display On", 9960, 3720, 1335, 495, 27},
    {"lblProgNum", Kind::Label, "Enter Program #:", 3840, 5040, 1215, 255, 19},
    {"txtProgNum", Kind::TextBox, "1", 5160, 5040, 495, 285, 18},
    {"cmdLocateProgram", Kind::Button, "Locate Program", 4080, 5520, 1335, 495, 20},
    {"lblTime", Kind::Label, "Enter Time (hh:mm:ss):", 6360, 5040, 1695, 255, 21},
    {"txtAbsTime", Kind::TextBox, "00:00:00", 8160, 5040, 855, 285, 23},
    {"cmdLocateAbsTime", Kind::Button, "Locate Absolute Time", 6840, 5520, 1695, 495, 22},
}};

// The two dividing lines, in twips: Line1 vertical at x 3360 from y 0 to 6480, Line2
// horizontal at y 4560 from x 3360 to 11880.
struct LineSpec {
    const char* name;
    int x1, y1, x2, y2;
};
constexpr std::array<LineSpec, 2> kLines{{
    {"Line1", 3360, 0, 3360, 6480},
    {"Line2", 3360, 4560, 11880, 4560},
}};

// The place of a control in kControls, found while compiling: a misspelt name or a wrong
// kind does not build.
consteval std::size_t IndexOf(std::string_view name, Kind kind)
{
    for (std::size_t i = 0; i < kControls.size(); ++i)
        if (name == kControls[i].name && kControls[i].kind == kind)
            return i;
    throw "no such control";
}

QRect PixelRect(int left, int top, int width, int height)
{
    return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel};
}

// Disables a button while its command runs (the command's wait lets clicks through) and
// enables it again on every way out.
class ButtonBusy {
public:
    explicit ButtonBusy(QPushButton* button) : button_(button) { button_->setEnabled(false); }
    ~ButtonBusy()
    {
        if (button_)
            button_->setEnabled(true);
    }
    ButtonBusy(const ButtonBusy&) = delete;
    ButtonBusy& operator=(const ButtonBusy&) = delete;

private:
    QPointer<QPushButton> button_;
};

// A failure's text, in a box; an empty one (a refusal the drive gave) is not told.
void Tell(const Status& status)
{
    if (!status && !status.error().empty())
        ui::ShowMessage(status.error());
}

// LOCATE as the console's fields give it: a field that cannot go out as BCD is told before
// the command, and a refusal or failure after it.
void Locate(std::uint8_t type, std::int32_t a1, std::int32_t a2, std::int32_t a3)
{
    const LocateCommand command = PrepareLocate(type, a1, a2, a3);
    for (const std::string& note : command.notes)
        ui::ShowMessage(note);
    const LocateOutcome out = SendLocate(AspiAdapter, AspiTarget, command);
    if (!out.done)
        ui::ShowMessage(out.message);
}

}  // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Main Form"));
    setFixedSize(kClientWidth, kClientHeight);
    // The layout was made for an 8-point system font (11 pixels high); a larger default font
    // would not fit its captions into their boxes.
    QFont small = font();
    small.setPixelSize(kFontPixels);
    small.setStretch(QFont::SemiCondensed);
    setFont(small);
    buildControls();
    connectHandlers();
    // What Play and Read Tape meet (the file, the sound device, the drive) is told here.
    SetAudioMessageHandler([this](const std::string& text) { ui::ShowMessage(text, ui::Icon::Warning, this); });
}

void frmMain::buildControls()
{
    std::vector<std::pair<int, QWidget*>> tabOrder;
    std::array<QWidget*, kControls.size()> built{};
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        const ControlSpec& spec = kControls[i];
        const QString text = QString::fromLatin1(spec.text);
        QWidget* widget = nullptr;
        switch (spec.kind) {
        case Kind::Label: {
            auto* label = new QLabel(text, this);
            // A caption wraps only where its box has room for a second line.
            label->setWordWrap(2 * (spec.height / kTwipsPerPixel) >= 3 * QFontMetrics(font()).lineSpacing());
            if (!label->wordWrap()) {
                // A one-line caption wider than its box gets a smaller font rather than
                // losing its last characters (the colon of "Enter Program #:").
                QFont f = font();
                const int width = spec.width / kTwipsPerPixel;
                while (f.pixelSize() > kMinFontPixels && QFontMetrics(f).horizontalAdvance(text) > width)
                    f.setPixelSize(f.pixelSize() - 1);
                label->setFont(f);
            }
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        case Kind::TextBox:
            widget = new QLineEdit(text, this);
            break;
        case Kind::Button:
            widget = new QPushButton(text, this);
            break;
        case Kind::Output:
            widget = new OutputBox(this);
            break;
        }
        built[i] = widget;
        widget->setObjectName(QString::fromLatin1(spec.name));
        widget->setGeometry(PixelRect(spec.left, spec.top, spec.width, spec.height));
        widget->setProperty("tabIndex", spec.tab);
        if (spec.kind != Kind::Label)
            tabOrder.emplace_back(spec.tab, widget);
    }
    std::sort(tabOrder.begin(), tabOrder.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);

    for (const LineSpec& spec : kLines) {
        auto* line = new QFrame(this);
        line->setObjectName(QString::fromLatin1(spec.name));
        const bool vertical = spec.x1 == spec.x2;
        line->setFrameShape(vertical ? QFrame::VLine : QFrame::HLine);
        line->setFrameShadow(QFrame::Plain);
        line->setLineWidth(1);
        const int x = spec.x1 / kTwipsPerPixel, y = spec.y1 / kTwipsPerPixel;
        line->setGeometry(vertical ? QRect(x, y, 1, (spec.y2 - spec.y1) / kTwipsPerPixel)
                                   : QRect(x, y, (spec.x2 - spec.x1) / kTwipsPerPixel, 1));
    }

    const auto button = [&](std::size_t i) { return static_cast<QPushButton*>(built[i]); };
    const auto textBox = [&](std::size_t i) { return static_cast<QLineEdit*>(built[i]); };
    picOutput_ = static_cast<OutputBox*>(built[IndexOf("picOutput", Kind::Output)]);
    txtAdapterNum_ = textBox(IndexOf("txtAdapterNum", Kind::TextBox));
    txtTapeID_ = textBox(IndexOf("txtTapeID", Kind::TextBox));
    txtProgNum_ = textBox(IndexOf("txtProgNum", Kind::TextBox));
    txtAbsTime_ = textBox(IndexOf("txtAbsTime", Kind::TextBox));
    cmdGetDevType_ = button(IndexOf("cmdGetDevType", Kind::Button));
    cmdEjectTape_ = button(IndexOf("cmdEjectTape", Kind::Button));
    cmdPreventEject_ = button(IndexOf("cmdPreventEject", Kind::Button));
    cmdAllowEject_ = button(IndexOf("cmdAllowEject", Kind::Button));
    cmdReadBlockLimits_ = button(IndexOf("cmdReadBlockLimits", Kind::Button));
    cmdTestUnitReady_ = button(IndexOf("cmdTestUnitReady", Kind::Button));
    cmdModeSense_ = button(IndexOf("cmdModeSense", Kind::Button));
    cmdDataModeSelect_ = button(IndexOf("cmdDataModeSelect", Kind::Button));
    cmdAudioModeSelect_ = button(IndexOf("cmdAudioModeSelect", Kind::Button));
    cmdRewind_ = button(IndexOf("cmdRewind", Kind::Button));
    cmdPlay_ = button(IndexOf("cmdPlay", Kind::Button));
    cmdStop_ = button(IndexOf("cmdStop", Kind::Button));
    cmdReadTape_ = button(IndexOf("cmdReadTape", Kind::Button));
    cmdUnBuffered_ = button(IndexOf("cmdUnBuffered", Kind::Button));
    cmdBuffered_ = button(IndexOf("cmdBuffered", Kind::Button));
    cmdReadPosition_ = button(IndexOf("cmdReadPosition", Kind::Button));
    cmdTimerOnOff_ = button(IndexOf("cmdTimerOnOff", Kind::Button));
    cmdLocateProgram_ = button(IndexOf("cmdLocateProgram", Kind::Button));
    cmdLocateAbsTime_ = button(IndexOf("cmdLocateAbsTime", Kind::Button));

    tmrReadPosition_ = new QTimer(this);
    tmrReadPosition_->setObjectName(QStringLiteral("tmrReadPosition"));
    tmrReadPosition_->setInterval(0);
}

void frmMain::connectHandlers()
{
    connect(cmdGetDevType_, &QPushButton::clicked, this, &frmMain::listDevices);
    connect(cmdTestUnitReady_, &QPushButton::clicked, this, &frmMain::sendTestUnitReady);
    // Audio Mode and Buffered send the same list.
    connect(cmdAudioModeSelect_, &QPushButton::clicked, this, [this] { selectMode(cmdAudioModeSelect_, kAudioModeList); });
    connect(cmdBuffered_, &QPushButton::clicked, this, [this] { selectMode(cmdBuffered_, kAudioModeList); });
    connect(cmdUnBuffered_, &QPushButton::clicked, this, [this] { selectMode(cmdUnBuffered_, kUnbufferedAudioList); });
    connect(cmdDataModeSelect_, &QPushButton::clicked, this, [this] { selectMode(cmdDataModeSelect_, kDataModeList); });
    connect(cmdModeSense_, &QPushButton::clicked, this, &frmMain::senseMode);
    connect(cmdLocateAbsTime_, &QPushButton::clicked, this, &frmMain::locateAbsoluteTime);
    connect(cmdLocateProgram_, &QPushButton::clicked, this, &frmMain::locateProgram);
    connect(cmdRewind_, &QPushButton::clicked, this, &frmMain::rewindTape);
    connect(cmdEjectTape_, &QPushButton::clicked, this, &frmMain::ejectTape);
    connect(cmdPlay_, &QPushButton::clicked, this, &frmMain::play);
    connect(cmdStop_, &QPushButton::clicked, this, &frmMain::stop);
    connect(cmdReadTape_, &QPushButton::clicked, this, &frmMain::readTape);
    connect(cmdReadPosition_, &QPushButton::clicked, this, &frmMain::reportPosition);
    connect(cmdTimerOnOff_, &QPushButton::clicked, this, &frmMain::toggleDisplay);
    connect(tmrReadPosition_, &QTimer::timeout, this, &frmMain::tickPosition);
    connect(cmdPreventEject_, &QPushButton::clicked, this, &frmMain::preventEject);
    connect(cmdAllowEject_, &QPushButton::clicked, this, &frmMain::allowEject);
    connect(cmdReadBlockLimits_, &QPushButton::clicked, this, &frmMain::showBlockLimits);
}

void frmMain::listDevices()
{
    ButtonBusy busy(cmdGetDevType_);
    picOutput_->clear();
    // The table has eight entries and the number must fit a byte: anything else, negative
    // entries included, is refused before the manager sees it.
    const double entered = LeadingNumber(txtAdapterNum_->text());
    const double adapter = RoundHalfEven(entered);
    if (entered < 0 || !(adapter < kAdapterTableSize)) {
        ui::ShowMessage("Invalid Host Adapter number", ui::Icon::Warning, this);
        return;
    }
    ConsoleAdapter = static_cast<std::uint8_t>(adapter);
    ListDeviceTypes([this](const std::string& line) { picOutput_->print(line); });
}

void frmMain::sendTestUnitReady()
{
    ButtonBusy busy(cmdTestUnitReady_);
    const UnitReadiness readiness = CheckUnitReady(AspiAdapter, AspiTarget);
    if (!readiness.message.empty())
        ui::ShowMessage(readiness.message, ui::Icon::Warning, this);
    const std::int32_t code = readiness.code;
    picOutput_->clear();
    picOutput_->print(NumText(code));
}

void frmMain::selectMode(QPushButton* button, const ModeParameterList& list)
{
    ButtonBusy busy(button);
    Tell(TryModeSelect(AspiAdapter, AspiTarget, list));
}

void frmMain::senseMode()
{
    ButtonBusy busy(cmdModeSense_);
    ModeParameterList data{};
    ModeSense(AspiAdapter, AspiTarget, data);
    picOutput_->clear();
    // Byte 11 first; the line stays open after the last "-".
    for (auto it = data.rbegin(); it != data.rend(); ++it)
        picOutput_->print(HexText(*it) + "-", false);
}

void frmMain::locateAbsoluteTime()
{
    ButtonBusy busy(cmdLocateAbsTime_);
    const std::array<double, 3> fields = TimeFields(txtAbsTime_->text());
    if (std::any_of(fields.begin(), fields.end(), [](double v) { return v < 0; })) {
        ui::ShowMessage("Times cannot be negative: enter the time as hh:mm:ss.", ui::Icon::Warning, this);
        return;
    }
    Locate(kLocateAbsoluteTime, static_cast<std::int32_t>(fields[0]), static_cast<std::int32_t>(fields[1]),
           static_cast<std::int32_t>(fields[2]));
}

void frmMain::locateProgram()
{
    ButtonBusy busy(cmdLocateProgram_);
    const double entered = LeadingNumber(txtProgNum_->text());
    if (entered < 0) {
        ui::ShowMessage("Program numbers cannot be negative: enter 0 to 799.", ui::Icon::Warning, this);
        return;
    }
    const double rounded = RoundHalfEven(entered);
    if (!(rounded <= kMaxProgramNumber)) {
        ui::ShowMessage("Program number exceeds 799.", ui::Icon::Warning, this);
        return;
    }
    const auto n = static_cast<std::int32_t>(rounded);
    Locate(kLocateProgram, n / 100, (n % 100) / 10, n % 10);
}

void frmMain::rewindTape()
{
    ButtonBusy busy(cmdRewind_);
    RewindTape(AspiAdapter, AspiTarget);
}

void frmMain::ejectTape()
{
    ButtonBusy busy(cmdEjectTape_);
    EjectTape(AspiAdapter, AspiTarget);
}

void frmMain::play()
{
    // Only the console's Stop enables these again.
    cmdPlay_->setEnabled(false);
    cmdReadTape_->setEnabled(false);
    BeginPlayback();
}

void frmMain::stop()
{
    StopPlayback();
    cmdPlay_->setEnabled(true);
    cmdReadTape_->setEnabled(true);
}

void frmMain::readTape()
{
    // Asked first: Cancel leaves the old file and the buttons as they were.
    if (!ui::ConfirmReplace(kCaptureFileName, this))
        return;
    const bool playWasEnabled = cmdPlay_->isEnabled();
    cmdPlay_->setEnabled(false);
    cmdReadTape_->setEnabled(false);
    const CaptureResult result = RunCapture();
    switch (result) {
    case CaptureResult::Stopped:
        // The console's Stop enables the buttons again; a stop from the deck leaves them.
        break;
    case CaptureResult::NotStarted:
        cmdPlay_->setEnabled(playWasEnabled);
        cmdReadTape_->setEnabled(true);
        return;
    case CaptureResult::EndOfTape:
    case CaptureResult::FileError:
    case CaptureResult::SizeLimit:
    case CaptureResult::ReadFailed:
    case CaptureResult::RateChange:
        // The capture ended by itself (the file is finished): no stop is to come.
        cmdPlay_->setEnabled(true);
        cmdReadTape_->setEnabled(true);
        break;
    }
    // A clean capture says nothing; one with lost or concealed frames lists them.
    if (const std::string errors = ErrorSummary(FramePassReport()); !errors.empty())
        ui::ShowMessage(errors, ui::Icon::Warning, this);
}

void frmMain::printPositionReport()
{
    PositionRecord record{};
    ReadPosition(AspiAdapter, AspiTarget, record);
    picOutput_->clear();
    for (const std::string& line : FormatPositionReport(record))
        picOutput_->print(line);
}

void frmMain::reportPosition()
{
    ButtonBusy busy(cmdReadPosition_);
    printPositionReport();
}

void frmMain::toggleDisplay()
{
    if (tmrReadPosition_->isActive()) {
        tmrReadPosition_->stop();
        cmdTimerOnOff_->setText(QStringLiteral("Display On"));
    } else {
        tmrReadPosition_->setInterval(kPositionIntervalMs);
        tmrReadPosition_->start();
        cmdTimerOnOff_->setText(QStringLiteral("Display Off"));
    }
}

void frmMain::tickPosition()
{
    // One report at a time: ticks that arrive inside a tick's wait are dropped.
    if (positionTickRunning_)
        return;
    positionTickRunning_ = true;
    printPositionReport();
    positionTickRunning_ = false;
}

void frmMain::preventEject()
{
    ButtonBusy busy(cmdPreventEject_);
    PreventAllowRemoval(AspiAdapter, AspiTarget, 1);
}

void frmMain::allowEject()
{
    ButtonBusy busy(cmdAllowEject_);
    PreventAllowRemoval(AspiAdapter, AspiTarget, 0);
}

void frmMain::showBlockLimits()
{
    ButtonBusy busy(cmdReadBlockLimits_);
    const std::string line = ReadBlockLimits(AspiAdapter, AspiTarget);
    picOutput_->clear();
    picOutput_->print(line);
}

namespace {

// One console for the run: closing hides it. A guarded pointer, not an owner: destroying a
// widget from a static destructor would run after the QApplication is gone.
QPointer<frmMain>& Console()
{
    static QPointer<frmMain> window;
    return window;
}

}  // namespace

void ShowConsoleWindow(const QWidget* deck)
{
    QPointer<frmMain>& window = Console();
    if (!window) {
        window = new frmMain;
        if (deck && deck->isVisible())
            window->move(deck->frameGeometry().right() + 1, deck->frameGeometry().top());
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void DestroyConsoleWindow() { delete Console().data(); }
