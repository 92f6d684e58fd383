// SPDX-License-Identifier: MIT
#include "application_setup.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyleFactory>

namespace nubaro {

namespace {

// Fusion with check boxes and option buttons sized for the form's rows,
// which are 12 pixels high: Fusion's own indicators are taller and would be
// cut off at the top and bottom.
class FormStyle : public QProxyStyle {
  public:
    FormStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    int pixelMetric(PixelMetric metric, const QStyleOption *option,
                    const QWidget *widget) const override {
        switch (metric) {
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight:
            return 12;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }
};

} // namespace

QFont checkBoxFont() {
    QFont font(QString::fromUtf8(kCheckFontFamily));
    font.setPointSizeF(kCheckFontPoints);
    font.setWeight(QFont::Normal); // 400
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

void setUpApplication() {
    // Fontconfig knows no alias for Check3's and Check4's font name and would fall
    // back to a wider Latin font; the substitution keeps the name in the code.
    const QString checkFamily = QString::fromUtf8(kCheckFontFamily);
    if (!QFont::substitutes(checkFamily).contains(QString::fromUtf8(kUiFontFamily)))
        QFont::insertSubstitution(checkFamily, QString::fromUtf8(kUiFontFamily));

    QFont font(QString::fromUtf8(kUiFontFamily));
    font.setPointSizeF(kUiFontPoints);
    QApplication::setFont(font);

    // The layout is fixed to the pixel; Fusion draws the same compact controls
    // on every desktop, where a desktop theme could make them bigger.
    if (!dynamic_cast<FormStyle *>(QApplication::style()))
        QApplication::setStyle(new FormStyle);

    QApplication::setWindowIcon(programIcon());
}

namespace {

// A picture (sky, sun and hill) on a sheet, and an arrow turning it into
// another sheet: a converter of image files. Drawn on a 32 x 32 grid.
void drawIcon(QPainter &p) {
    // Back sheet (the result), white with a grey edge.
    p.setPen(QColor(64, 64, 64));
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(12, 2, 18, 22);
    p.fillRect(14, 5, 14, 2, QColor(0, 96, 192));
    p.fillRect(14, 9, 14, 2, QColor(0, 96, 192));

    // Front sheet (the source picture).
    p.setBrush(QColor(120, 200, 255));
    p.drawRect(2, 9, 18, 20);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 220, 0));
    p.drawEllipse(QPoint(15, 14), 3, 3);
    p.setBrush(QColor(40, 160, 60));
    QPainterPath hill;
    hill.moveTo(3, 29);
    hill.lineTo(3, 23);
    hill.quadTo(10, 15, 20, 24);
    hill.lineTo(20, 29);
    hill.closeSubpath();
    p.drawPath(hill);

    // Arrow from the picture towards the back sheet.
    p.setBrush(QColor(220, 40, 40));
    p.setPen(QColor(128, 0, 0));
    const QPoint arrow[] = {{18, 26}, {24, 26}, {24, 29}, {30, 24}, {24, 19}, {24, 22}, {18, 22}};
    p.drawPolygon(arrow, 7);
}

} // namespace

QImage iconRendering(int size) {
    QImage canvas(size, size, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    // The 32-pixel icon is drawn pixel-exact; larger renderings are smoothed.
    p.setRenderHint(QPainter::Antialiasing, size != 32);
    p.scale(size / 32.0, size / 32.0);
    drawIcon(p);
    p.end();
    return canvas;
}

QImage iconImage() {
    // 256 colours: an 8-bit palette image, transparency kept as one entry.
    return iconRendering(32).convertToFormat(QImage::Format_Indexed8,
                                             Qt::ThresholdDither | Qt::AvoidDither);
}

QIcon programIcon() {
    QIcon icon(QPixmap::fromImage(iconImage()));
    // A sharper picture where the icon is drawn larger (scaled screens).
    for (int size : {64, 128})
        icon.addPixmap(QPixmap::fromImage(iconRendering(size)));
    return icon;
}

} // namespace nubaro
