#include "ui/qt/art.h"

#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace scour::qt {

namespace {

// A disk with a sweep across it: drawn when the art files are not built in.
void DrawDisk(QPainter& p, QRectF box) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 220), box.width() / 24));
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawEllipse(box);
    QRectF hub(box.center().x() - box.width() / 8, box.center().y() - box.height() / 8,
               box.width() / 4, box.height() / 4);
    p.drawEllipse(hub);
    QPainterPath sweep;
    sweep.moveTo(box.center());
    sweep.arcTo(box, 20, 70);
    sweep.closeSubpath();
    p.setBrush(QColor(255, 255, 255, 110));
    p.setPen(Qt::NoPen);
    p.drawPath(sweep);
}

QPixmap Drawn(int width, int height, bool tall) {
    QPixmap pixmap(width, height);
    QPainter p(&pixmap);
    QLinearGradient g(0, 0, tall ? 0 : width, height);
    g.setColorAt(0, QColor(0x1c, 0x4e, 0x8a));
    g.setColorAt(1, QColor(0x0b, 0x22, 0x44));
    p.fillRect(pixmap.rect(), g);
    double size = tall ? width * 0.6 : width * 0.7;
    QRectF box((width - size) / 2, tall ? height * 0.12 : (height - size) / 2, size, size);
    DrawDisk(p, box);
    return pixmap;
}

QPixmap Load(const QString& name, int width, int height, bool tall) {
    QPixmap pixmap;
    if (QFile::exists(name) && pixmap.load(name) && !pixmap.isNull()) {
        return pixmap;
    }
    return Drawn(width, height, tall);
}

}  // namespace

QPixmap Watermark() {
    return Load(QStringLiteral(":/art/watermark.bmp"), 164, 314, true);
}

QPixmap HeaderBitmap() {
    return Load(QStringLiteral(":/art/header.bmp"), 49, 49, false);
}

QIcon ProgramIcon() {
    QIcon icon;
    for (const char* name :
         {":/art/scourline.png", ":/art/scourline-48.png", ":/art/scourline-256.png"}) {
        if (QFile::exists(QString::fromLatin1(name))) {
            icon.addFile(QString::fromLatin1(name));
        }
    }
    if (icon.isNull()) {
        icon.addPixmap(Drawn(48, 48, false));
    }
    return icon;
}

}  // namespace scour::qt
