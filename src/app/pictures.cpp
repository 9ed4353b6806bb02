#include "pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace keldo::app {
namespace {

const QColor kBlue(0x1f, 0x4e, 0x8c);
const QColor kLight(0xe8, 0xf0, 0xfa);

void paintClock(QPainter& p, const QPointF& centre, qreal radius, int hour, int minute) {
    p.save();
    p.translate(centre);
    p.setPen(QPen(kBlue, radius * 0.06));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(0, 0), radius, radius);
    for (int i = 0; i < 12; ++i) {
        p.save();
        p.rotate(i * 30.0);
        p.drawLine(QPointF(0, -radius * 0.82), QPointF(0, -radius * 0.95));
        p.restore();
    }
    p.setPen(QPen(kBlue, radius * 0.08, Qt::SolidLine, Qt::RoundCap));
    p.save();
    p.rotate((hour % 12) * 30.0 + minute * 0.5);
    p.drawLine(QPointF(0, 0), QPointF(0, -radius * 0.5));
    p.restore();
    p.setPen(QPen(kBlue.lighter(140), radius * 0.05, Qt::SolidLine, Qt::RoundCap));
    p.save();
    p.rotate(minute * 6.0);
    p.drawLine(QPointF(0, 0), QPointF(0, -radius * 0.75));
    p.restore();
    p.restore();
}

} // namespace

QPixmap backgroundPicture(const QSize& size) {
    QPixmap pm(size);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, size.height());
    g.setColorAt(0, Qt::white);
    g.setColorAt(1, kLight);
    p.fillRect(pm.rect(), g);
    const qreal r = qMin(size.width(), size.height()) * 0.28;
    paintClock(p, QPointF(size.width() / 2.0, size.height() * 0.45), r, 8, 0);
    QFont f(QStringLiteral("serif"));
    f.setStyleHint(QFont::Serif);
    f.setItalic(true);
    f.setPixelSize(qMax(12, int(r * 0.45)));
    p.setFont(f);
    p.setPen(kBlue);
    p.drawText(QRectF(0, size.height() * 0.45 + r * 1.1, size.width(), r * 0.7), Qt::AlignCenter,
               QString::fromUtf8(kProductName));
    return pm;
}

QPixmap clockPicture(int side) {
    QPixmap pm(side, side);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    paintClock(p, QPointF(side / 2.0, side / 2.0), side * 0.45, 10, 10);
    return pm;
}

QPixmap companyPicture(int side) {
    QPixmap pm(side, side);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    QPainterPath path;
    path.addRoundedRect(QRectF(side * 0.1, side * 0.1, side * 0.8, side * 0.8), side * 0.15,
                        side * 0.15);
    p.drawPath(path);
    QFont f(QStringLiteral("serif"));
    f.setStyleHint(QFont::Serif);
    f.setBold(true);
    f.setPixelSize(int(side * 0.55));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("C"));
    return pm;
}

} // namespace keldo::app
