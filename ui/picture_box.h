// SPDX-License-Identifier: MIT
// Picture1: a borderless, flat drawing surface with a persistent backing
// image. Code draws into image() and calls refresh(); every repaint shows the
// backing image again, so covering and uncovering the box keeps the picture.
// While the box has the keyboard focus, a focus frame is drawn over the
// picture (never into the backing image).
#pragma once

#include <QImage>
#include <QWidget>

namespace nubaro {

class PictureBox : public QWidget {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget *parent = nullptr);

    // The backing image: Format_RGB32, always the box's size, filled with the
    // window-background colour until something draws into it.
    QImage &image();
    const QImage &image() const;

    // Shows what has been drawn into image().
    void refresh();

    // Fills the backing image with the background colour again.
    void clear();

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

  private:
    // The box may be resized while hidden, when Qt holds its resize event
    // back; the image follows the size whenever it is asked for.
    void fitImage() const;

    mutable QImage image_;
};

} // namespace nubaro
