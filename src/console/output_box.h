// picOutput: the console's output area. It receives printed text the way a picture box does:
// each print either ends its line or leaves it open for the next print to continue; clearing
// empties it. The text is kept, so covering and uncovering the window loses nothing.
#pragma once

#include <QFrame>
#include <QString>
#include <string>

class OutputBox : public QFrame {
    Q_OBJECT
public:
    explicit OutputBox(QWidget* parent = nullptr);

    // Appends `text` at the current position; with `endLine` a line end follows it.
    void print(const QString& text, bool endLine = true);
    void print(const std::string& text, bool endLine = true);
    // Empties the area; the next print starts at the top.
    void clear();
    // Everything printed since the last clear, line ends as '\n' (an open line has none).
    QString text() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};
