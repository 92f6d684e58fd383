// SPDX-License-Identifier: MIT
#include "picture_box.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

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
        // A plain line round the edge: the style's focus frame would tint
        // the whole picture.
        painter.setPen(palette().color(QPalette::Highlight));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
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
