// The error map of an archive package (data/error-map.svg) drawn in a window: the file's own
// shapes scaled to the widget's width, with each mark's tooltip under the pointer.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "archive/error_map.h"

namespace deck {

class ErrorMapView : public QWidget {
public:
    explicit ErrorMapView(QWidget* parent);

    // Reads the map of the package at `dir`; false (and nothing shown) when there is none.
    bool Load(const std::string& dir);
    const std::vector<archive::MapShape>& shapes() const { return shapes_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    double scale() const;
    std::vector<archive::MapShape> shapes_;
};

}  // namespace deck
