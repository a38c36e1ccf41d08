#pragma once

#include <QRect>
#include <QSlider>

namespace velmora {

// The position slider. A playing track moves its value several times a second while
// the handle moves one pixel every few frames: a new value repaints the slider only
// when the handle lands somewhere else. The value itself always follows exactly.
class PositionSlider : public QSlider
{
public:
    using QSlider::QSlider;

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QRect handleRect() const;

    QRect m_paintedHandle; // where the last paint put the handle
};

} // namespace velmora
