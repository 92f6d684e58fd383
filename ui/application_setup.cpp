// SPDX-License-Identifier: MIT
#include "application_setup.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionGroupBox>

#include <algorithm>

namespace nubaro {

namespace {

// Fusion with two changes for the form's geometry, which the whole window
// shares:
// - check boxes and option buttons sized for the form's rows, which are 12
//   pixels high: Fusion's own indicators are taller and would be cut off at
//   the top and bottom;
// - every frame (group box) draws its border through the middle of its
//   caption, the caption's background breaking the line, so that the first
//   row of controls, 240 twips below the frame's top, lies clear of the
//   border. Fusion draws the caption above the border instead, and the
//   border then runs through that first row.
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

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                         const QWidget *widget) const override {
        const auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
        if (control != CC_GroupBox || !box) {
            return QProxyStyle::subControlRect(control, option, sub, widget);
        }
        const int lineHeight = box->fontMetrics.height();
        switch (sub) {
        case SC_GroupBoxLabel: {
            if (box->text.isEmpty()) return {};
            const int textWidth =
                box->fontMetrics.size(Qt::TextShowMnemonic, box->text).width() + 2 * kCaptionPad;
            return {box->rect.left() + kCaptionIndent, box->rect.top(),
                    std::min(textWidth, box->rect.width() - 2 * kCaptionIndent), lineHeight};
        }
        case SC_GroupBoxFrame:
            return box->rect.adjusted(0, lineHeight / 2, 0, 0);
        case SC_GroupBoxContents:
            return box->rect.adjusted(kEtch, lineHeight, -kEtch, -kEtch);
        default:
            return {};
        }
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                            QPainter *painter, const QWidget *widget) const override {
        const auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
        if (control != CC_GroupBox || !box) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        painter->save();
        // An etched line: a shadow, and a highlight one pixel inside it.
        const QRect frame = subControlRect(control, box, SC_GroupBoxFrame, widget);
        painter->setPen(box->palette.color(QPalette::Light));
        painter->drawRect(frame.adjusted(1, 1, -1, -1));
        painter->setPen(box->palette.color(QPalette::Window).darker(150));
        painter->drawRect(frame.adjusted(0, 0, -2, -2));
        const QRect label = subControlRect(control, box, SC_GroupBoxLabel, widget);
        if (!label.isEmpty()) {
            painter->fillRect(label, box->palette.window());
            proxy()->drawItemText(painter, label.adjusted(kCaptionPad, 0, 0, 0),
                                  Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                                  box->palette, box->state & State_Enabled, box->text,
                                  QPalette::WindowText);
        }
        painter->restore();
    }

  private:
    static constexpr int kCaptionIndent = 6; // the caption's background from the frame's left
    static constexpr int kCaptionPad = 2;    // background on either side of the caption
    static constexpr int kEtch = 2;          // the border's width
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
    if (!dynamic_cast<FormStyle *>(QApplication::style())) QApplication::setStyle(new FormStyle);

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
