// SPDX-License-Identifier: MIT
#include "picture_box.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace nubaro {

PictureBox::PictureBox(QWidget *parent) : QWidget(parent) {
    // The box's background is the window-background colour (the colour text
    // fields are filled with), its drawing colour the window-text colour.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    pal.setColor(QPalette::WindowText, pal.color(QPalette::Text));
    setPalette(pal);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    image_ = QImage(size(), QImage::Format_RGB32);
    clear();
}

QImage &PictureBox::image() {
    fitImage();
    return image_;
}

const QImage &PictureBox::image() const {
    fitImage();
    return image_;
}

void PictureBox::refresh() {
    update();
}

void PictureBox::clear() {
    image().fill(palette().color(QPalette::Window));
    update();
}

void PictureBox::paintEvent(QPaintEvent *event) {
    fitImage();
    QPainter painter(this);
    painter.drawImage(event->rect(), image_, event->rect());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.backgroundColor = palette().color(QPalette::Window);
        // The box takes the focus only from the keyboard: the style draws
        // the frame for such a focus alone.
        focus.state |= QStyle::State_KeyboardFocusChange;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void PictureBox::focusInEvent(QFocusEvent *event) {
    QWidget::focusInEvent(event);
    update();
}

void PictureBox::focusOutEvent(QFocusEvent *event) {
    QWidget::focusOutEvent(event);
    update();
}

void PictureBox::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    fitImage();
}

void PictureBox::fitImage() const {
    if (image_.size() == size()) return;
    // Keeps what is drawn where the old and new sizes overlap.
    QImage resized(size(), QImage::Format_RGB32);
    resized.fill(palette().color(QPalette::Window));
    QPainter painter(&resized);
    painter.drawImage(0, 0, image_);
    painter.end();
    image_ = std::move(resized);
}

} // namespace nubaro
