#include "deck/program_list.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace deck {

namespace {

constexpr unsigned kHighestProgram = 799;

QString Hms(const dat::TimeCode& t) { return QString::fromStdString(dat::FormatHms(t)); }

// The absolute time and program number of a READ POSITION record.
dat::TimeCode AbsoluteTime(const PositionRecord& r) { return dat::TimeCodeFromBcd(&r[12]); }

}  // namespace

dat::TimeCode TimeBetween(const dat::TimeCode& a, const dat::TimeCode& b)
{
    const std::optional<std::uint32_t> ia = dat::IndexOfTimeCode(a), ib = dat::IndexOfTimeCode(b);
    if (!ia || !ib || *ia < *ib)
        return {};
    return dat::TimeCodeOfIndex(*ia - *ib);
}

dat::TimeCode TotalAtEnd(const PositionRecord& there, std::optional<std::uint32_t> frameThere, const ProgramRow* from)
{
    if (const dat::TimeCode at = AbsoluteTime(there); dat::IndexOfTimeCode(at))
        return at;
    if (!frameThere)
        return {};
    std::uint64_t fromIndex = 0, fromFrame = 0;
    if (from && from->frame) {
        const std::optional<std::uint32_t> index = dat::IndexOfTimeCode(from->start);
        if (!index)
            return {};
        fromIndex = *index;
        fromFrame = *from->frame;
    }
    if (*frameThere < fromFrame)
        return {};
    return dat::TimeCodeOfIndex(fromIndex + (*frameThere - fromFrame));
}

ScanResult ScanPrograms(const ScanDrive& drive)
{
    ScanResult result;
    bool atEnd = false;
    // Each command may take seconds at search speed; a stop is noticed after the one under way.
    for (unsigned n = 1; n <= kHighestProgram; ++n) {
        if (drive.stopped()) {
            result.stopped = true;
            return result;
        }
        const LocateOutcome out = drive.locateProgram(n);
        if (drive.stopped()) {
            result.stopped = true;
            return result;
        }
        if (!out.done) {
            if (!out.notFound) {
                result.failure = out.message;
                return result;
            }
            atEnd = true;
            break;
        }
        const std::optional<PositionRecord> at = drive.readPosition();
        if (!at) {
            result.failure = "The drive did not tell where program " + std::to_string(n) + " starts.";
            return result;
        }
        ProgramRow row;
        row.number = n;
        row.start = AbsoluteTime(*at);
        row.frame = drive.readFrame();
        if (!result.programs.empty())
            result.programs.back().length = TimeBetween(row.start, result.programs.back().start);
        result.programs.push_back(row);
        if (drive.found)
            drive.found(result.programs.back());
    }
    if (drive.stopped()) {
        result.stopped = true;
        return result;
    }
    // The search for the missing number ran past the lead-out; the lead-out's first frame is
    // where the recording ends. (799 programs found: the tape is still in the last one.)
    const LocateOutcome end = drive.locateEnd();
    if (drive.stopped()) {
        result.stopped = true;
        return result;
    }
    if (!end.done) {
        if (!atEnd || !end.notFound)
            result.failure = end.message;
        return result;
    }
    const std::optional<PositionRecord> there = drive.readPosition();
    if (!there)
        return result;  // the programs stand; only the last one's length is not known
    const std::optional<std::uint32_t> frame = drive.readFrame();
    result.total = TotalAtEnd(*there, frame, result.programs.empty() ? nullptr : &result.programs.back());
    if (!result.programs.empty())
        result.programs.back().length = TimeBetween(result.total, result.programs.back().start);
    return result;
}

// --- The panel -----------------------------------------------------------------------------

ProgramPanel::ProgramPanel(QWidget* deck) : QWidget(deck, Qt::Tool)
{
    setObjectName("frmPrograms");
    setWindowTitle("Programs");
    auto* layout = new QVBoxLayout(this);
    lblProgramsTotal = new QLabel(this);
    lblProgramsTotal->setObjectName("lblProgramsTotal");
    lblProgramsStatus = new QLabel(this);
    lblProgramsStatus->setObjectName("lblProgramsStatus");
    lblProgramsStatus->setWordWrap(true);
    lstPrograms = new QTreeWidget(this);
    lstPrograms->setObjectName("lstPrograms");
    lstPrograms->setAccessibleName("Programs");
    lstPrograms->setToolTip("Double-click a program to play it");
    lstPrograms->setHeaderLabels({"No.", "Start", "Length"});
    lstPrograms->setRootIsDecorated(false);
    lstPrograms->setUniformRowHeights(true);
    lstPrograms->setSelectionMode(QAbstractItemView::SingleSelection);
    lstPrograms->header()->setStretchLastSection(false);
    lstPrograms->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(lblProgramsTotal);
    layout->addWidget(lstPrograms, 1);
    layout->addWidget(lblProgramsStatus);
    resize(220, 260);
    connect(lstPrograms, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        if (item)
            emit programChosen(item->data(0, Qt::UserRole).toUInt());
    });
    Clear();
}

void ProgramPanel::PlaceBesideDeck()
{
    if (QWidget* deck = parentWidget())
        move(deck->frameGeometry().topRight() + QPoint(1, 0));
}

void ProgramPanel::BeginScan()
{
    lstPrograms->clear();
    lblProgramsStatus->setText("Scanning the tape for programs...");
    if (!isVisible())
        PlaceBesideDeck();
    show();
}

void ProgramPanel::AddProgram(const ProgramRow& row)
{
    auto* item = new QTreeWidgetItem(lstPrograms, {QString::number(row.number), Hms(row.start), Hms(row.length)});
    item->setData(0, Qt::UserRole, row.number);
    item->setTextAlignment(0, Qt::AlignRight);
}

void ProgramPanel::ShowResult(const ScanResult& result)
{
    // The rows as they stand now: a length is known once the next start or the end is.
    lstPrograms->clear();
    for (const ProgramRow& row : result.programs)
        AddProgram(row);
    const auto count = static_cast<unsigned>(result.programs.size());
    const QString found = count == 1 ? "1 program" : QString("%1 programs").arg(count);
    if (result.stopped)
        lblProgramsStatus->setText("Scan stopped: " + found + " found so far.");
    else if (!result.failure.empty())
        lblProgramsStatus->setText("Scan failed: " + QString::fromStdString(result.failure));
    else
        lblProgramsStatus->setText(found + " on the tape.");
    if (lstPrograms->topLevelItemCount() > 0)
        lstPrograms->setCurrentItem(lstPrograms->topLevelItem(0));
}

void ProgramPanel::SetTotal(const dat::TimeCode& total)
{
    lblProgramsTotal->setText(total.valid ? "Total recorded time: " + Hms(total) : "Total recorded time: not known");
}

void ProgramPanel::Clear()
{
    lstPrograms->clear();
    SetTotal({});
    lblProgramsStatus->setText("Options, Scan Programs lists the tape's programs.");
}

bool ClickFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        clicked_();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace deck
