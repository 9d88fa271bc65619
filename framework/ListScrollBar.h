// The list's vertical scroll bar. A change of range, value or page step
// repaints it only when what it shows changes: the slider's place and length,
// and whether an end is reached (styles draw that end's arrow disabled). A
// list that grows by a few hundred rows a frame at a million rows moves its
// slider by less than a pixel, and a style's groove and slider are costly to
// draw (gradients, which the raster engine spreads over a thread pool).
// The look is compared once the changes of an event-loop turn are done, as a
// list sets the range and then the value, and between the two the bar looks
// moved.
#pragma once

#include <QRect>
#include <QScrollBar>

namespace win {

class ListScrollBar : public QScrollBar {
public:
    explicit ListScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Look {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };
    Look CurrentLook() const;
    void CheckLook();

    Look m_painted;
    bool m_hasPainted = false;
    bool m_checkPosted = false;
};

}  // namespace win
