#include "positionslider.h"

#include <QStyle>
#include <QStyleOptionSlider>

namespace velmora {

QRect PositionSlider::handleRect() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

void PositionSlider::sliderChange(SliderChange change)
{
    // The groove's fill ends at the handle, and the ticks do not move: nothing to repaint.
    if (change == SliderValueChange && !m_paintedHandle.isNull() && handleRect() == m_paintedHandle)
        return;
    QSlider::sliderChange(change);
}

void PositionSlider::paintEvent(QPaintEvent *event)
{
    QSlider::paintEvent(event);
    m_paintedHandle = handleRect();
}

} // namespace velmora
