#pragma once

#include <QGraphicsDropShadowEffect>
#include <QImage>
#include <QSize>

namespace orvo::ui {

/// The frame's drop shadow: a QGraphicsDropShadowEffect on `windowFrame` that carries the blur
/// radius, colour and offset, but is painted by the frame behind `windowFrame` instead of by Qt's
/// effect machinery, which is why Qt's own drawing of it is switched off. Qt draws an enabled
/// effect by rendering the whole frame with every child into a pixmap and blurring it on each
/// repaint, so every progress bar step inside the frame would cost a full-window render and blur
/// (about 16 ms on a 900 × 600 window). This one blurs the frame's rounded shape once per size and
/// colour; a repaint then only copies the part of that picture that lies in the repainted region.
class FrameShadowEffect : public QGraphicsDropShadowEffect
{
    Q_OBJECT

public:
    /// `cornerRadius`: the radius of the frame's rounded corners, which its style sheet gives.
    explicit FrameShadowEffect(qreal cornerRadius, QObject *parent = nullptr);

    /// `mask`'s alpha blurred by `radius` (about two standard deviations of a Gaussian), painted
    /// in `color` on a picture `radius` pixels wider on every side.
    static QImage blurredShadow(const QImage &mask, qreal radius, const QColor &color);

    /// Paints the shadow of a frame with rounded corners occupying `frameRect`.
    void paintBehind(QPainter *painter, const QRect &frameRect);

private:
    qreal m_cornerRadius;
    QImage m_shadow;      ///< the blurred, coloured shape, `m_pad` larger on every side
    QSize m_shadowFor;    ///< source size the picture was built for
    QColor m_shadowColor; ///< colour it was built with
    qreal m_shadowRadius = -1;
};

} // namespace orvo::ui
