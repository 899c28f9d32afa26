// The tape's programs and its total recorded time: the scan that finds them by locating from
// program to program at search speed, and the side panel that lists them beside the deck.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dat/time_code.h"
#include "tape/position_record.h"
#include "tape/positioning.h"

class QLabel;
class QTreeWidget;

namespace deck {

struct ProgramRow {
    unsigned number = 0;
    dat::TimeCode start;                 // absolute time of the program's first frame
    std::optional<std::uint32_t> frame;  // the tape frame there, when the drive tells it
    dat::TimeCode length;                // invalid while the program's end is not known
};

// What the scan asks of the drive; each call sends one command and waits while events go on.
struct ScanDrive {
    std::function<LocateOutcome(unsigned number)> locateProgram;
    std::function<LocateOutcome()> locateEnd;  // the end of the recorded area (program 0EE)
    std::function<std::optional<PositionRecord>()> readPosition;
    std::function<std::optional<std::uint32_t>()> readFrame;
    std::function<bool()> stopped;                 // the user has stopped the scan
    std::function<void(const ProgramRow&)> found;  // each program as it is found
};

struct ScanResult {
    std::vector<ProgramRow> programs;
    dat::TimeCode total;  // invalid when the end of the recording could not be placed
    bool stopped = false;
    std::string failure;  // what a failed command said; empty when none failed
};

// Programs 1, 2, ... up to the first number the tape does not hold (the locate for it runs
// to the end of the recorded area), then the end itself for the last program's length. The
// tape is left at the end of the recorded area.
ScanResult ScanPrograms(const ScanDrive& drive);

// The total recorded time where the tape stands at the end of the recorded area: the absolute
// time there, or, where the lead-out carries none, the frames counted on from `from` (a place
// whose absolute time and frame are both known; without one, frame 0 is 0:00:00).
dat::TimeCode TotalAtEnd(const PositionRecord& there, std::optional<std::uint32_t> frameThere, const ProgramRow* from);

// `a` - `b` to the frame; invalid when either is or `a` comes first.
dat::TimeCode TimeBetween(const dat::TimeCode& a, const dat::TimeCode& b);

// The side window beside the deck: the programs found (number, start, length) and the total.
// Double-click or Return on a program asks for it to be played.
class ProgramPanel : public QWidget {
    Q_OBJECT
public:
    explicit ProgramPanel(QWidget* deck);

    // Opens the panel at the deck's right edge, emptied, saying that the scan runs.
    void BeginScan();
    void AddProgram(const ProgramRow& row);
    void ShowResult(const ScanResult& result);
    void SetTotal(const dat::TimeCode& total);
    // Another tape: nothing is known.
    void Clear();

    QTreeWidget* lstPrograms;
    QLabel* lblProgramsTotal;
    QLabel* lblProgramsStatus;

signals:
    void programChosen(unsigned number);

private:
    void PlaceBesideDeck();
};

// Calls `clicked` on a left mouse press on the watched widgets (or children that leave the
// press to them).
class ClickFilter : public QObject {
public:
    ClickFilter(QObject* parent, std::function<void()> clicked) : QObject(parent), clicked_(std::move(clicked)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> clicked_;
};

}  // namespace deck
