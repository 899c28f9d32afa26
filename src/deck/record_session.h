// The deck's Record: audio files chosen by the user written onto the cassette as programs,
// then read back and compared. The recorder is driven from the deck's event loop a few frames
// per tick, so the window stays responsive and Stop is heard between frames.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <string>

class frmDeck;
class TapeRecorder;
struct TapeContents;

namespace deck {

class RecordSession final : public QObject {
    Q_OBJECT
public:
    explicit RecordSession(frmDeck& deck);
    ~RecordSession() override;

    // Record pressed: the files, their check, the tape's check, the confirmation; then the
    // recording runs from the event loop and the deck returns to Ready when it is over.
    void Start();
    // Writing or verifying.
    bool Running() const { return stage_ != Stage::Idle; }
    // Stop pressed: a recording ends after the frame under way and gets its lead-out (the
    // verify of what was written follows); a verify ends where it stands.
    void Stop();
    // The deck closes: a recording still gets its lead-out, written before this returns (or,
    // when the close arrived inside a write, before that write's batch returns); no verify.
    void Abandon();

    // How many frames one tick may write or read at most, however fast the drive is.
    static constexpr int kFramesPerTick = 16;

signals:
    // The panel shows the frame just written or read back.
    void panelUpdated();

private:
    enum class Stage { Idle, Writing, Verifying };

    QStringList chooseFiles();
    bool confirm(const TapeContents& contents);
    void tick();
    void showPanel();
    // Back to Ready with the tape's position on the panel, then `text` in a box.
    void finish(const std::string& text, bool failure);

    frmDeck& deck_;
    std::unique_ptr<TapeRecorder> recorder_;
    Stage stage_ = Stage::Idle;
    QTimer next_;
    bool inBatch_ = false;
    bool abandoned_ = false;
    QString lastFolder_;
};

}  // namespace deck
