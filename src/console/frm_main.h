// frmMain, the diagnostic console: one button per drive command, the output area picOutput,
// and the text boxes the locate commands and the device listing read. Every drive command
// goes to the drive chosen at start-up (AspiAdapter, AspiTarget).
#pragma once

#include <QWidget>

#include "tape/unit_mode.h"

class OutputBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);

    // The client area, 11880 x 6450 twips at 15 twips per pixel.
    static constexpr int kClientWidth = 792;
    static constexpr int kClientHeight = 430;
    // The periodic position display's interval.
    static constexpr int kPositionIntervalMs = 100;

private:
    void buildControls();
    void connectHandlers();

    // Handlers, one per button; each disables its own button while its command runs.
    void listDevices();
    void sendTestUnitReady();
    // Audio Mode, Buffered, UnBuffered and Data Mode: MODE SELECT with the button's list.
    void selectMode(QPushButton* button, const ModeParameterList& list);
    void senseMode();
    void locateAbsoluteTime();
    void locateProgram();
    void rewindTape();
    void ejectTape();
    void play();
    void stop();
    void readTape();
    void reportPosition();
    void toggleDisplay();
    void tickPosition();
    void preventEject();
    void allowEject();
    void showBlockLimits();

    // Reads the position record and replaces picOutput's text with its eight lines.
    void printPositionReport();

    OutputBox* picOutput_ = nullptr;
    QLineEdit* txtAdapterNum_ = nullptr;
    QLineEdit* txtTapeID_ = nullptr;
    QLineEdit* txtProgNum_ = nullptr;
    QLineEdit* txtAbsTime_ = nullptr;
    QPushButton* cmdGetDevType_ = nullptr;
    QPushButton* cmdEjectTape_ = nullptr;
    QPushButton* cmdPreventEject_ = nullptr;
    QPushButton* cmdAllowEject_ = nullptr;
    QPushButton* cmdReadBlockLimits_ = nullptr;
    QPushButton* cmdTestUnitReady_ = nullptr;
    QPushButton* cmdModeSense_ = nullptr;
    QPushButton* cmdDataModeSelect_ = nullptr;
    QPushButton* cmdAudioModeSelect_ = nullptr;
    QPushButton* cmdRewind_ = nullptr;
    QPushButton* cmdPlay_ = nullptr;
    QPushButton* cmdStop_ = nullptr;
    QPushButton* cmdReadTape_ = nullptr;
    QPushButton* cmdUnBuffered_ = nullptr;
    QPushButton* cmdBuffered_ = nullptr;
    QPushButton* cmdReadPosition_ = nullptr;
    QPushButton* cmdTimerOnOff_ = nullptr;
    QPushButton* cmdLocateProgram_ = nullptr;
    QPushButton* cmdLocateAbsTime_ = nullptr;
    QTimer* tmrReadPosition_ = nullptr;

    // A tick's READ POSITION is waiting: the next ticks are skipped until it has finished.
    bool positionTickRunning_ = false;
};
