// frmDeck: construction, layout and the ten window operations.
#include "deck/frm_deck.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

#include "deck/archive_window.h"
#include "deck/caption_fit.h"
#include "deck/led_artwork.h"
#include "deck/led_box.h"
#include "deck/level_meter.h"
#include "deck/picture_button.h"
#include "deck/program_list.h"

bool RestartEntry = false;

namespace {

using deck::FitCaption;
using deck::LedBox;
using deck::PictureButton;
using deck::TransportPicture;

// The client area below the menu bar. The deck imitates a hardware panel: fixed geometry.
// The whole window of about 417 x 254 pixels less a 4-pixel frame on each side, a 19-pixel
// caption and a 19-pixel menu bar; the lowest controls end at y 193.
constexpr int kClientWidth = 409;
constexpr int kClientHeight = 208;
// The status line added under everything, so that no control of the panel moves.
constexpr QRect kStatusLine(16, 208, 377, 18);
// The two level meters under the status line, one bar each.
constexpr QRect kLeftMeter(16, 228, 377, 7);
constexpr QRect kRightMeter(16, 238, 377, 7);
constexpr int kClientHeightWithStatus = kRightMeter.bottom() + 1 + 4;

// Digit and colon boxes of one row, as x offsets inside the row.
constexpr std::array<int, 5> kDigitX{0, 24, 40, 64, 80};
constexpr std::array<int, 2> kColonX{16, 56};
constexpr int kRowWidth = 97;

constexpr QPoint kPanelOrigin(16, 0);

QString Indexed(const char* name, int index) { return QString("%1(%2)").arg(name).arg(index); }

QPushButton* TextButton(QWidget* parent, const char* name, const QString& caption, const char* tip, QRect where)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setToolTip(tip);
    b->setAccessibleName(tip);
    b->setGeometry(where);
    b->setAutoDefault(false);
    FitCaption(*b);
    return b;
}

QPushButton* TransportButton(QWidget* parent, const char* name, TransportPicture picture, const char* tip, QPoint at)
{
    auto* b = new PictureButton(picture, parent);
    b->setObjectName(name);
    b->setToolTip(tip);
    b->setAccessibleName(tip);
    b->setGeometry(QRect(at, QSize(deck::kButtonPictureWidth, deck::kButtonPictureHeight)));
    b->setAutoDefault(false);
    return b;
}

QLabel* PanelLabel(QWidget* panel, const char* name, const QString& text, QPoint clientPos)
{
    auto* l = new QLabel(text, panel);
    l->setObjectName(name);
    l->move(clientPos - kPanelOrigin);
    return l;
}

}  // namespace

frmDeck::frmDeck(QWidget* parent) : QMainWindow(parent)
{
    setObjectName("frmDeck");
    setWindowTitle("Vantrel");
    const qreal ratio = qApp->devicePixelRatio();
    clpDigits = std::make_unique<deck::clpDigits>(deck::MakeGlyphCells(ratio));
    litColon_ = deck::MakeLitColon(ratio);

    CreateMenus();
    auto* client = new QWidget(this);
    client->setObjectName("client");
    client->setFixedSize(kClientWidth, kClientHeightWithStatus);
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    CreatePanel(client);
    CreateKeypad(client);
    CreateTransport(client);
    SetFocusOrder();
    CreateKeys();

    lblStatus = new QLabel(client);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setGeometry(kStatusLine);
    lblStatus->setTextFormat(Qt::PlainText);
    CreateProgramParts(client);

    mtrLeft = new deck::LevelMeter("L", "Left Channel Level", client);
    mtrLeft->setObjectName("mtrLeft");
    mtrLeft->setGeometry(kLeftMeter);
    mtrRight = new deck::LevelMeter("R", "Right Channel Level", client);
    mtrRight->setObjectName("mtrRight");
    mtrRight->setGeometry(kRightMeter);
    meterFeed = new deck::MeterFeed(mtrLeft, mtrRight, this);

    // Idle until start-up gives it its interval and starts it.
    tmrWait4Tape = new QTimer(this);
    tmrWait4Tape->setObjectName("tmrWait4Tape");
    connect(tmrWait4Tape, &QTimer::timeout, this, &frmDeck::tmrWait4Tape_Timer);
    tmrPanel = new QTimer(this);
    tmrPanel->setObjectName("tmrPanel");
    tmrPanel->setInterval(250);
    connect(tmrPanel, &QTimer::timeout, this, &frmDeck::tmrPanel_Timer);
}

frmDeck::~frmDeck() = default;

void frmDeck::CreateMenus()
{
    mnuFile = menuBar()->addMenu("&File");
    mnuFile->setObjectName("mnuFile");
    mnuFileConsole = mnuFile->addAction("&Console...", this, &frmDeck::mnuFileConsole_Click);
    mnuFileConsole->setObjectName("mnuFileConsole");
    mnuFileConsole->setShortcut(QKeySequence("Ctrl+D"));
    mnuFile->addAction("&Archive Tape...", this, [this] { deck::ArchiveTape(*this); })->setObjectName("mnuFileArchive");
    mnuFile->addSeparator();
    mnuFileExit = mnuFile->addAction("E&xit", this, &frmDeck::mnuFileExit_Click);
    mnuFileExit->setObjectName("mnuFileExit");

    mnuOptions = menuBar()->addMenu("&Options");
    mnuOptions->setObjectName("mnuOptions");
    mnuOptionsSave = mnuOptions->addAction("Play and &Save", this, &frmDeck::mnuOptionsSave_Click);
    mnuOptionsSave->setObjectName("mnuOptionsSave");
    mnuOptionsSave->setCheckable(true);
    mnuOptionsOnly = mnuOptions->addAction("Save &Only", this, &frmDeck::mnuOptionsOnly_Click);
    mnuOptionsOnly->setObjectName("mnuOptionsOnly");
    mnuOptionsOnly->setCheckable(true);
    mnuOptions->addSeparator();
    mnuOptionsFolder = mnuOptions->addAction("Save To &Folder...", this, &frmDeck::mnuOptionsFolder_Click);
    mnuOptionsFolder->setObjectName("mnuOptionsFolder");

    mnuHelp = menuBar()->addMenu("&Help");
    mnuHelp->setObjectName("mnuHelp");
    mnuHelpContents = mnuHelp->addAction("&Contents", this, &frmDeck::mnuHelpContents_Click);
    mnuHelpContents->setObjectName("mnuHelpContents");
    mnuHelpAbout = mnuHelp->addAction("&About", this, &frmDeck::mnuHelpAbout_Click);
    mnuHelpAbout->setObjectName("mnuHelpAbout");
    mnuHelpKeyboard = mnuHelp->addAction("&Keyboard", this, &frmDeck::mnuHelpKeyboard_Click);
    mnuHelpKeyboard->setObjectName("mnuHelpKeyboard");
    mnuFileExit->setShortcut(QKeySequence("Ctrl+Q"));
}

void frmDeck::CreatePanel(QWidget* client)
{
    // The display window of the deck: a dark panel holding two rows of LED boxes.
    Frame5 = new QFrame(client);
    Frame5->setObjectName("Frame5");
    Frame5->setGeometry(QRect(kPanelOrigin, QSize(265, 112)));
    Frame5->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Frame5->setLineWidth(2);
    Frame5->setAutoFillBackground(true);
    QPalette panel = Frame5->palette();
    panel.setColor(QPalette::Window, QColor(38, 40, 44));
    panel.setColor(QPalette::WindowText, QColor(214, 218, 224));
    Frame5->setPalette(panel);

    QFont rowFont(QStringLiteral("Sans Serif"), 12);
    rowFont.setStyleHint(QFont::SansSerif);
    lblAtime = PanelLabel(Frame5, "lblAtime", "A-Time:", {32, 37});
    lblPtime = PanelLabel(Frame5, "lblPtime", "P-Time:", {32, 81});
    for (QLabel* l : {lblAtime, lblPtime}) {
        l->setFont(rowFont);
        l->adjustSize();
        // Level the text with the middle of its row of digits.
        l->move(l->x(), l->y() + 7 - l->height() / 2);
    }

    QFont small = font();
    small.setPixelSize(11);
    small.setBold(true);
    QPalette green = panel;
    green.setColor(QPalette::WindowText, deck::LedGreen());
    lblPno = PanelLabel(Frame5, "lblPno", "PNo 00", {224, 64});
    lblPno->setToolTip("Program Number");
    lblPno->setAccessibleName("Program Number");
    lblKhz = PanelLabel(Frame5, "lblKhz", "48 KHz", {224, 88});
    lblKhz->setToolTip("Sample Rate");
    lblKhz->setAccessibleName("Sample Rate");
    lblEmph = PanelLabel(Frame5, "lblEmph", "EMPH", {224, 40});
    lblEmph->setToolTip("Emphasis: the tape was recorded with 50/15 us pre-emphasis");
    lblEmph->setAccessibleName("Emphasis");
    for (QLabel* l : {lblPno, lblKhz, lblEmph}) {
        l->resize(49, 17);
        l->setFont(small);
        l->setPalette(green);
    }
    lblEmph->hide();

    const auto makeRow = [&](const char* outer, const char* inner, const char* boxName, int y, const char* tip,
                             std::array<LedBox*, 5>& digits, int firstColon, QFrame*& rowFrame, QFrame*& black) {
        rowFrame = new QFrame(Frame5);
        rowFrame->setObjectName(outer);
        rowFrame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        rowFrame->setLineWidth(2);
        rowFrame->setGeometry(QRect(QPoint(98, y - 2) - kPanelOrigin, QSize(kRowWidth + 4, 33)));
        black = new QFrame(rowFrame);
        black->setObjectName(inner);
        black->setGeometry(2, 2, kRowWidth, deck::kCellHeight);
        black->setAutoFillBackground(true);
        // A reader hears the row as one reading, "Absolute Time 0:12:34", not five boxes.
        black->setAccessibleName(tip);
        black->setToolTip(tip);
        QPalette p = black->palette();
        p.setColor(QPalette::Window, Qt::black);
        black->setPalette(p);
        for (int i = 0; i < 5; ++i) {
            digits[i] = new LedBox(black);
            digits[i]->setObjectName(Indexed(boxName, i));
            digits[i]->setGeometry(kDigitX[i], 0, deck::kCellWidth, deck::kCellHeight);
            digits[i]->setToolTip(tip);
            digits[i]->setFocusPolicy(Qt::NoFocus);
            digits[i]->SetPicture(clpDigits->GraphicCell(8), 8);
        }
        for (int c = 0; c < 2; ++c) {
            LedBox* colon = new LedBox(black);
            colon->setObjectName(Indexed("picColon", firstColon + c));
            colon->setGeometry(kColonX[c], 0, deck::kColonWidth, deck::kCellHeight);
            colon->setToolTip(tip);
            colon->SetPicture(litColon_, LedBox::kColon);
            colon->setFocusPolicy(Qt::NoFocus);
            picColon[firstColon + c] = colon;
        }
    };
    makeRow("Frame3", "Frame1", "picAtime", 22, "Absolute Time", picAtime, 0, Frame3, Frame1);
    makeRow("Frame4", "Frame2", "picPtime", 66, "Program Time", picPtime, 2, Frame4, Frame2);

    // The template of the lit colon, below the visible client area, never changed.
    picColon[4] = new LedBox(client);
    picColon[4]->setObjectName(Indexed("picColon", 4));
    picColon[4]->setGeometry(272, kClientHeightWithStatus + 20, deck::kColonWidth, deck::kCellHeight);
    picColon[4]->setToolTip("Program Time");
    picColon[4]->SetPicture(litColon_, LedBox::kColon);
    picColon[4]->setFocusPolicy(Qt::NoFocus);
    picColon[4]->hide();
}

void frmDeck::CreateKeypad(QWidget* client)
{
    QFont seekFont = font();
    seekFont.setPixelSize(10);
    cmdAtime = TextButton(client, "cmdAtime", "ATime", "Seek to an Absolute Time", {328, 8, 41, 17});
    cmdPno = TextButton(client, "cmdPno", "PNo", "Seek to a Program Number", {328, 24, 41, 17});
    cmdPtime = TextButton(client, "cmdPtime", "PTime", "Seek to a Program Time", {328, 40, 41, 17});
    for (QPushButton* b : {cmdAtime, cmdPno, cmdPtime})
        b->setFont(seekFont);
    connect(cmdAtime, &QPushButton::clicked, this, &frmDeck::cmdAtime_Click);
    connect(cmdPno, &QPushButton::clicked, this, &frmDeck::cmdPno_Click);
    connect(cmdPtime, &QPushButton::clicked, this, &frmDeck::cmdPtime_Click);

    constexpr std::array<int, 3> kColumns{304, 336, 368};
    constexpr std::array<int, 3> kRows{72, 104, 136};
    for (int i = 0; i < 10; ++i) {
        const QPoint at = i == 0 ? QPoint(304, 168) : QPoint(kColumns[(i - 1) % 3], kRows[(i - 1) / 3]);
        cmdPad[i] = TextButton(client, "", QString::number(i), "Time or Program Number Entry", QRect(at, QSize(25, 25)));
        cmdPad[i]->setObjectName(Indexed("cmdPad", i));
        cmdPad[i]->setAccessibleName(QString::number(i));
        cmdPad[i]->setAccessibleDescription("Time or Program Number Entry");
        connect(cmdPad[i], &QPushButton::clicked, this, [this, i] { cmdPad_Click(i); });
    }
    cmdExecute = TextButton(client, "cmdExecute", "Execute", "Execute Seek Command", {336, 168, 57, 25});
    connect(cmdExecute, &QPushButton::clicked, this, &frmDeck::cmdExecute_Click);
}

void frmDeck::CreateTransport(QWidget* client)
{
    constexpr int kUpper = 128, kLower = 168;
    cmdBOT = TransportButton(client, "cmdBOT", TransportPicture::Bot, "Beginning of Tape", {16, kUpper});
    cmdNext = TransportButton(client, "cmdNext", TransportPicture::SkipBack, "Previous Program", {72, kUpper});
    cmdPrev = TransportButton(client, "cmdPrev", TransportPicture::SkipForward, "Next Program", {128, kUpper});
    cmdEOT = TransportButton(client, "cmdEOT", TransportPicture::Eot, "End of Tape", {184, kUpper});
    cmdEject = TransportButton(client, "cmdEject", TransportPicture::Eject, "Eject Tape", {240, kUpper});
    cmdPlay = TransportButton(client, "cmdPlay", TransportPicture::Play, "Play Tape", {16, kLower});
    cmdCue = TransportButton(client, "cmdCue", TransportPicture::Cue, "Cue Tape", {72, kLower});
    cmdStop = TransportButton(client, "cmdStop", TransportPicture::Stop, "Stop Tape", {128, kLower});
    cmdRecord = TransportButton(client, "cmdRecord", TransportPicture::Record, "Record to Tape", {184, kLower});

    connect(cmdPlay, &QPushButton::clicked, this, &frmDeck::cmdPlay_Click);
    connect(cmdStop, &QPushButton::clicked, this, &frmDeck::cmdStop_Click);
    connect(cmdCue, &QPushButton::clicked, this, &frmDeck::cmdCue_Click);
    connect(cmdRecord, &QPushButton::clicked, this, &frmDeck::cmdRecord_Click);
    connect(cmdNext, &QPushButton::clicked, this, &frmDeck::cmdNext_Click);
    connect(cmdPrev, &QPushButton::clicked, this, &frmDeck::cmdPrev_Click);
    connect(cmdBOT, &QPushButton::clicked, this, &frmDeck::cmdBOT_Click);
    connect(cmdEOT, &QPushButton::clicked, this, &frmDeck::cmdEOT_Click);
    connect(cmdEject, &QPushButton::clicked, this, &frmDeck::cmdEject_Click);
}

void frmDeck::SetFocusOrder()
{
    // As the panel reads: the transport's upper row and lower row left to right, then the
    // seek buttons, the keypad 1-9, 0 and Execute.
    std::vector<QWidget*> order{cmdBOT, cmdNext, cmdPrev,   cmdEOT,   cmdEject, cmdPlay,
                                cmdCue, cmdStop, cmdRecord, cmdAtime, cmdPno,   cmdPtime};
    for (int i = 1; i <= 9; ++i)
        order.push_back(cmdPad[static_cast<std::size_t>(i)]);
    order.push_back(cmdPad[0]);
    order.push_back(cmdExecute);
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    // Focus follows the button pressed, or the one that comes next: Stop after Play, Play
    // after Stop. Pressing disables the buttons while the drive works; the focus comes back
    // when its button is enabled again.
    for (QPushButton* b : findChildren<QPushButton*>()) {
        b->installEventFilter(this);
        connect(b, &QPushButton::pressed, this, [this, b] {
            focusTarget_ = b == cmdPlay ? cmdStop : b == cmdStop ? cmdPlay : b;
        });
    }
    // Start-up enables Play once a tape is in: the focus starts there, never in the panel.
    focusTarget_ = cmdPlay;
}

void frmDeck::CreateKeys()
{
    const auto key = [this](const char* name, const QKeySequence& seq, std::function<void()> run) {
        auto* a = new QAction(this);
        a->setObjectName(name);
        a->setShortcut(seq);
        connect(a, &QAction::triggered, this, std::move(run));
        addAction(a);
    };
    // A key does what its button does, and only while the button could be pressed.
    const auto press = [](QPushButton* b) {
        return [b] {
            if (b->isEnabled())
                b->click();
        };
    };
    key("keyPlayStop", QKeySequence(Qt::Key_Space), [this] {
        if (cmdPlay->isEnabled())
            cmdPlay->click();
        else if (cmdStop->isEnabled())
            cmdStop->click();
    });
    key("keyBOT", QKeySequence(Qt::Key_Home), press(cmdBOT));
    key("keyEOT", QKeySequence(Qt::Key_End), press(cmdEOT));
    key("keyEject", QKeySequence("Ctrl+E"), press(cmdEject));
    key("keyPrevious", QKeySequence(Qt::Key_PageUp), press(cmdNext));  // cmdNext is "Previous Program"
    key("keyNext", QKeySequence(Qt::Key_PageDown), press(cmdPrev));
}

QString frmDeck::KeyboardHelp()
{
    return "Space\tPlay, or Stop while playing\n"
           "Home\tBeginning of Tape\n"
           "End\tEnd of Tape\n"
           "Page Up\tPrevious Program\n"
           "Page Down\tNext Program\n"
           "Ctrl+E\tEject Tape\n"
           "Tab, Shift+Tab\tNext or previous button\n"
           "Return\tPress the button that has the focus\n"
           "Ctrl+D\tConsole\n"
           "Ctrl+Q\tExit";
}

bool frmDeck::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && watched == focusTarget_ && focusTarget_->isEnabled()) {
        if (focusWidget() != focusTarget_)
            focusTarget_->setFocus(Qt::OtherFocusReason);
        focusTarget_ = nullptr;  // once: after that the focus is the user's
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmDeck::keyPressEvent(QKeyEvent* event)
{
    // Space belongs to Play and Stop, so Return presses the focused button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* b = qobject_cast<QPushButton*>(QApplication::focusWidget());
            b && b->window() == this && b->isEnabled()) {
            b->click();
            return;
        }
    }
    QMainWindow::keyPressEvent(event);
}

// --- Button groups ---------------------------------------------------------------------

void frmDeck::EnableTapeButtons()
{
    for (QPushButton* b : {cmdCue, cmdNext, cmdPrev, cmdRecord, cmdPlay, cmdEject, cmdEOT, cmdBOT, cmdStop})
        b->setEnabled(true);
}

void frmDeck::DisableTapeButtons()
{
    for (QPushButton* b : {cmdCue, cmdNext, cmdPrev, cmdRecord, cmdPlay, cmdEject, cmdEOT, cmdBOT, cmdStop})
        b->setEnabled(false);
}

void frmDeck::EnableSearchButtons()
{
    for (QPushButton* b : {cmdAtime, cmdPno, cmdPtime})
        b->setEnabled(true);
}

void frmDeck::DisableSearchButtons()
{
    for (QPushButton* b : {cmdAtime, cmdPno, cmdPtime})
        b->setEnabled(false);
}

void frmDeck::EnablePadButtons()
{
    for (QPushButton* b : cmdPad)
        b->setEnabled(true);
}

void frmDeck::DisablePadButtons()
{
    for (QPushButton* b : cmdPad)
        b->setEnabled(false);
}

void frmDeck::DisableAllButtons()
{
    DisableTapeButtons();
    DisableSearchButtons();
    DisablePadButtons();
    cmdExecute->setEnabled(false);
}

// --- Display ---------------------------------------------------------------------------

void frmDeck::SetRow(const std::array<LedBox*, 5>& row, const std::array<int, 5>& cells)
{
    for (std::size_t i = 0; i < row.size(); ++i)
        row[i]->SetPicture(cells[i] == LedBox::kEmpty ? QPixmap() : clpDigits->GraphicCell(cells[i]), cells[i]);
    UpdateReadings();
}

void frmDeck::SetColons(bool lit)
{
    for (int i = 0; i < 4; ++i) {
        if (lit)
            picColon[i]->SetPicture(picColon[4]->Picture(), LedBox::kColon);
        else
            picColon[i]->SetPicture(QPixmap(), LedBox::kEmpty);
    }
    UpdateReadings();
}

QString frmDeck::RowReading(bool upper) const
{
    const auto& digits = upper ? picAtime : picPtime;
    const int firstColon = upper ? 0 : 2;
    const auto glyph = [](const LedBox* box) -> QString {
        static const char* const kCells[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "-", "d", "A", "t"};
        const int shown = box->Shown();
        if (shown == LedBox::kColon)
            return ":";
        return shown >= 0 && shown < deck::kCellCount ? kCells[shown] : "";
    };
    QString text;
    text += glyph(digits[0]) + glyph(picColon[firstColon]) + glyph(digits[1]) + glyph(digits[2]);
    text += glyph(picColon[firstColon + 1]) + glyph(digits[3]) + glyph(digits[4]);
    return text;
}

void frmDeck::UpdateReadings()
{
    Frame1->setAccessibleDescription(RowReading(true));
    Frame2->setAccessibleDescription(RowReading(false));
}

void frmDeck::SetDisplayToPosition(const dat::TimeCode& absolute, const dat::TimeCode& program,
                                   const dat::ProgramNumber& number)
{
    // h:mm:ss as five cells; a time that is not valid (or past 9 hours) shows dashes.
    const auto cells = [](const dat::TimeCode& t) -> std::array<int, 5> {
        if (!t.valid || t.h > 9)
            return {deck::kCellDash, deck::kCellDash, deck::kCellDash, deck::kCellDash, deck::kCellDash};
        return {static_cast<int>(t.h), static_cast<int>(t.m / 10), static_cast<int>(t.m % 10),
                static_cast<int>(t.s / 10), static_cast<int>(t.s % 10)};
    };
    SetRow(picAtime, cells(UpperRowTime(absolute)));
    SetRow(picPtime, cells(number.IsNumber() ? program : dat::TimeCode{}));
    SetColons(true);
    lblPno->setText(number.IsNumber() ? QStringLiteral("PNo %1").arg(number.number, 2, 10, QLatin1Char('0'))
                                      : QStringLiteral("PNo - -"));
}

void frmDeck::SetRateDisplay(const QString& rateText, bool emphasis)
{
    if (!rateText.isEmpty() && rateText != lblKhz->text()) {
        // "44.1 KHz" and "32 KHz LP" are wider than "48 KHz": a smaller font, never a cut.
        QFont f = lblPno->font();
        while (QFontMetrics(f).horizontalAdvance(rateText) > lblKhz->width() && f.pixelSize() > 7)
            f.setPixelSize(f.pixelSize() - 1);
        lblKhz->setFont(f);
        lblKhz->setText(rateText);
    }
    lblEmph->setVisible(emphasis);
}

void frmDeck::SetDisplayTo8s()
{
    SetRow(picAtime, {8, 8, 8, 8, 8});
    SetRow(picPtime, {8, 8, 8, 8, 8});
    SetColons(false);
    lblPno->setText("PNo - -");
}

void frmDeck::SetDisplayToBlank()
{
    using deck::kCellDash;
    SetRow(picAtime, {kCellDash, kCellDash, kCellDash, kCellDash, kCellDash});
    SetRow(picPtime, {kCellDash, kCellDash, kCellDash, kCellDash, kCellDash});
    SetColons(true);
    lblPno->setText("PNo - -");
}

void frmDeck::SetDisplayToData()
{
    using namespace deck;
    SetRow(picAtime, {LedBox::kEmpty, kCellD, kCellA, kCellT, kCellA});
    SetRow(picPtime, {LedBox::kEmpty, kCellD, kCellA, kCellT, kCellA});
    SetColons(false);
    lblPno->setText("PNo - -");
}
