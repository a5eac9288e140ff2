#include "frameshadow.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvo::ui {

namespace {

/// One pass of a box blur of half-width `k` along rows (`step` 1) or columns (`step` = width),
/// treating everything outside the picture as transparent.
void boxPass(std::vector<int> &values, std::vector<int> &scratch, int lines, int length, int lineStep, int step, int k)
{
    const int width = 2 * k + 1;
    for (int line = 0; line < lines; ++line) {
        const int base = line * lineStep;
        int sum = 0;
        for (int i = 0; i < std::min(k, length); ++i)
            sum += values[base + i * step];
        for (int i = 0; i < length; ++i) {
            if (i + k < length)
                sum += values[base + (i + k) * step];
            scratch[i] = sum / width;
            if (i - k >= 0)
                sum -= values[base + (i - k) * step];
        }
        for (int i = 0; i < length; ++i)
            values[base + i * step] = scratch[i];
    }
}

} // namespace

FrameShadowEffect::FrameShadowEffect(qreal cornerRadius, QObject *parent)
    : QGraphicsDropShadowEffect(parent), m_cornerRadius(cornerRadius)
{
    setEnabled(false); // painted by the frame, see paintBehind()
}

QImage FrameShadowEffect::blurredShadow(const QImage &mask, qreal radius, const QColor &color)
{
    const int pad = std::max(0, static_cast<int>(std::ceil(radius)));
    const int w = mask.width() + 2 * pad;
    const int h = mask.height() + 2 * pad;
    if (mask.isNull() || w <= 0 || h <= 0)
        return {};

    const QImage alpha = mask.convertToFormat(QImage::Format_Alpha8);
    std::vector<int> values(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
    for (int y = 0; y < alpha.height(); ++y) {
        const uchar *line = alpha.constScanLine(y);
        int *out = values.data() + static_cast<std::size_t>(y + pad) * static_cast<std::size_t>(w) + pad;
        for (int x = 0; x < alpha.width(); ++x)
            out[x] = line[x];
    }

    // Three box passes each way approximate a Gaussian; its standard deviation is a third of the
    // radius, so the shadow has faded out at about the radius.
    const qreal sigma = radius / 3.0;
    const int k = std::max(0, static_cast<int>(std::lround((std::sqrt(4.0 * sigma * sigma + 1.0) - 1.0) / 2.0)));
    if (k > 0) {
        std::vector<int> scratch(static_cast<std::size_t>(std::max(w, h)));
        for (int pass = 0; pass < 3; ++pass) {
            boxPass(values, scratch, h, w, w, 1, k);
            boxPass(values, scratch, w, h, 1, w, k);
        }
    }

    QImage shadow(w, h, QImage::Format_ARGB32_Premultiplied);
    const int ca = color.alpha();
    for (int y = 0; y < h; ++y) {
        auto *out = reinterpret_cast<QRgb *>(shadow.scanLine(y));
        const int *in = values.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        for (int x = 0; x < w; ++x) {
            const int a = in[x] * ca / 255;
            out[x] = qRgba(color.red() * a / 255, color.green() * a / 255, color.blue() * a / 255, a);
        }
    }
    return shadow;
}

void FrameShadowEffect::paintBehind(QPainter *painter, const QRect &frameRect)
{
    if (frameRect.isEmpty() || (blurRadius() <= 0 && offset().isNull()))
        return;

    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    if (m_shadow.isNull() || frameRect.size() != m_shadowFor || color() != m_shadowColor
        || blurRadius() != m_shadowRadius || m_shadow.devicePixelRatio() != ratio) {
        QImage shape(frameRect.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        shape.fill(Qt::transparent);
        {
            QPainter p(&shape);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(ratio, ratio);
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            p.drawRoundedRect(QRectF(QPointF(0, 0), QSizeF(frameRect.size())), m_cornerRadius, m_cornerRadius);
        }
        m_shadow = blurredShadow(shape, blurRadius() * ratio, color());
        m_shadow.setDevicePixelRatio(ratio);
        m_shadowFor = frameRect.size();
        m_shadowColor = color();
        m_shadowRadius = blurRadius();
    }
    if (m_shadow.isNull())
        return;
    const qreal pad = (m_shadow.width() / ratio - m_shadowFor.width()) / 2.0;
    painter->drawImage(QPointF(frameRect.topLeft()) + offset() - QPointF(pad, pad), m_shadow);
}

} // namespace orvo::ui
