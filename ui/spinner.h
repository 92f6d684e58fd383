// SPDX-License-Identifier: MIT
// The number boxes' up-down control. Qt has no stand-alone one, so this is
// ours: a pair of arrows attached to the right edge of its box (the box
// narrows by the control's width), stepping its position by 1 within a fixed
// range without wrapping and writing it into the box as decimal text, which
// runs the box's change handling. Held arrows repeat, faster the longer they
// are held. The control never takes the focus; arrow keys typed in the box do
// not step it. Like every widget it takes no input while its frame is
// disabled.
#pragma once

#include "spinner_logic.h"

#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace nubaro {

class UpDownControl : public QWidget {
    Q_OBJECT
  public:
    // The standard width of the control, in pixels.
    static constexpr int kWidth = 16;

    // `parent` is the frame that holds `buddy`; the control becomes the box's
    // sibling, takes its place at the right edge of the box and writes the
    // start position into it.
    UpDownControl(QWidget *parent, QLineEdit *buddy, int upper, int lower, int position);

    QLineEdit *buddy() const { return buddy_; }
    const SpinnerLogic &logic() const { return logic_; }

    // One click on an arrow: what a mouse press on it does, without the repeat.
    void stepUp();
    void stepDown();

    QSize sizeHint() const override { return {kWidth, 18}; }

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

  private:
    enum class Arrow { None, Up, Down };
    void step(bool up);
    void repeat();
    void stopRepeat();
    QRect arrowRect(Arrow arrow) const;

    QPointer<QLineEdit> buddy_;
    SpinnerLogic logic_;
    Arrow pressed_ = Arrow::None;
    int repeats_ = 0;
    QTimer repeatTimer_;
};

// Makes a spinner in `parent` for the box `buddy` (which must be a line edit
// inside `parent`) with the given bounds and start position. Returns the new
// control, or null when it cannot be made, in which case the box has none.
QWidget *CreateSpinner(QWidget *parent, QWidget *buddy, int upper, int lower, int position);

// Destroys a control's window at once; null is ignored.
void DestroyControlWindow(QWidget *control);

} // namespace nubaro
