#include "ui/style/BlurredShadow.h"

#include <QImage>
#include <QPainter>
#include <QPixmapCache>
#include <cmath>
#include <vector>

namespace {
/// One box blur of \a image's rows (or columns) with a window of 2 * \a r + 1.
void boxBlur(QImage &image, int r, bool horizontal)
{
    const int lines = horizontal ? image.height() : image.width();
    const int length = horizontal ? image.width() : image.height();
    const auto stride = image.bytesPerLine() / 4;
    auto *bits = reinterpret_cast<QRgb *>(image.bits());
    const int window = 2 * r + 1;
    std::vector<QRgb> line(length);
    for (int l = 0; l < lines; ++l) {
        const auto at = [&](int i) -> QRgb & { return horizontal ? bits[l * stride + i] : bits[i * stride + l]; };
        for (int i = 0; i < length; ++i)
            line[i] = at(i);
        int sums[4] = {0, 0, 0, 0};
        const auto add = [&](int i, int sign) {
            if (i < 0 || i >= length)
                return;
            const QRgb p = line[i];
            sums[0] += sign * qAlpha(p);
            sums[1] += sign * qRed(p);
            sums[2] += sign * qGreen(p);
            sums[3] += sign * qBlue(p);
        };
        for (int i = -r; i < r; ++i)
            add(i, 1);
        for (int i = 0; i < length; ++i) {
            add(i + r, 1);
            at(i) = qRgba(sums[1] / window, sums[2] / window, sums[3] / window, sums[0] / window);
            add(i - r, -1);
        }
    }
}

/// \a shape filled with \a color and blurred by \a radius, as a pixmap covering shape plus reach.
QPixmap render(const QPainterPath &shape, const QColor &color, double radius, double scale)
{
    const double reach = BlurredShadow::reach(radius);
    const auto bounds = shape.boundingRect().adjusted(-reach, -reach, reach, reach);
    QImage image((bounds.size() * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        painter.translate(-bounds.topLeft());
        painter.fillPath(shape, color);
    }
    // Three box passes approximate a Gaussian whose visible edge ends near the radius.
    const int box = std::max(1, int(std::lround(radius * scale / 3)));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlur(image, box, true);
        boxBlur(image, box, false);
    }
    auto pixmap = QPixmap::fromImage(std::move(image));
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

void draw(QPainter &painter, const QPainterPath &path, const QString &form, const VespertoneTheme::Shadow &shadow)
{
    if (shadow.color.alpha() == 0)
        return;
    const double scale = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const auto bounds = path.boundingRect();
    const auto key = QStringLiteral("shadow:%1:%2x%3:%4:%5:%6")
                         .arg(form)
                         .arg(bounds.width())
                         .arg(bounds.height())
                         .arg(shadow.radius)
                         .arg(shadow.color.rgba(), 0, 16)
                         .arg(scale);
    QPixmap pixmap;
    if (!QPixmapCache::find(key, &pixmap)) {
        pixmap = render(path.translated(-bounds.topLeft()), shadow.color, shadow.radius, scale);
        QPixmapCache::insert(key, pixmap);
    }
    const double reach = BlurredShadow::reach(shadow.radius);
    painter.drawPixmap(bounds.topLeft() + shadow.offset - QPointF(reach, reach), pixmap);
}
} // namespace

namespace BlurredShadow {

void paint(QPainter &painter, const QRectF &shape, double cornerRadius, const VespertoneTheme::Shadow &shadow)
{
    QPainterPath path;
    path.addRoundedRect(shape, cornerRadius, cornerRadius);
    draw(painter, path, QStringLiteral("rr%1").arg(cornerRadius), shadow);
}

void paint(QPainter &painter, const QPainterPath &path, const QString &key, const VespertoneTheme::Shadow &shadow)
{
    draw(painter, path, key, shadow);
}

} // namespace BlurredShadow
