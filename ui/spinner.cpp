// SPDX-License-Identifier: MIT
#include "spinner.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace nubaro {

UpDownControl::UpDownControl(QWidget *parent, QLineEdit *buddy, int upper, int lower, int position)
    : QWidget(parent), buddy_(buddy), logic_(upper, lower, position) {
    setFocusPolicy(Qt::NoFocus);
    repeatTimer_.setSingleShot(true);
    connect(&repeatTimer_, &QTimer::timeout, this, &UpDownControl::repeat);

    // Right-aligned inside the box's former width: the box gives up the
    // control's width at its right edge.
    const QRect box = buddy->geometry();
    const int width = std::min(kWidth, box.width());
    buddy->setGeometry(box.x(), box.y(), box.width() - width, box.height());
    setGeometry(box.x() + box.width() - width, box.y(), width, box.height());
    show();

    // The start position goes into the box like any later one.
    const QString text = QString::fromStdString(logic_.text());
    if (buddy->text() != text) buddy->setText(text);
}

void UpDownControl::stepUp() {
    step(true);
}
void UpDownControl::stepDown() {
    step(false);
}

void UpDownControl::step(bool up) {
    if (!buddy_) return;
    logic_.step(buddy_->text().toStdString(), up);
    // Writing the same text again would not be a change; anything else is,
    // so a box holding text that is no position gets a number back.
    const QString text = QString::fromStdString(logic_.text());
    if (buddy_->text() != text) buddy_->setText(text);
}

void UpDownControl::repeat() {
    if (pressed_ == Arrow::None) return;
    step(pressed_ == Arrow::Up);
    ++repeats_;
    repeatTimer_.start(spinnerRepeatDelayMs(repeats_));
}

void UpDownControl::stopRepeat() {
    pressed_ = Arrow::None;
    repeatTimer_.stop();
    update();
}

QRect UpDownControl::arrowRect(Arrow arrow) const {
    const int upperHeight = height() / 2;
    if (arrow == Arrow::Up) return {0, 0, width(), upperHeight};
    return {0, upperHeight, width(), height() - upperHeight};
}

void UpDownControl::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    pressed_ = arrowRect(Arrow::Up).contains(event->position().toPoint()) ? Arrow::Up : Arrow::Down;
    repeats_ = 1;
    update();
    step(pressed_ == Arrow::Up);
    repeatTimer_.start(spinnerRepeatDelayMs(repeats_));
}

void UpDownControl::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) stopRepeat();
}

void UpDownControl::changeEvent(QEvent *event) {
    // A frame disabled while an arrow is held stops the repeat at once.
    if (event->type() == QEvent::EnabledChange && !isEnabled()) stopRepeat();
    QWidget::changeEvent(event);
}

void UpDownControl::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    for (Arrow arrow : {Arrow::Up, Arrow::Down}) {
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = arrowRect(arrow);
        button.state |= (pressed_ == arrow) ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &button, &painter, this);

        QStyleOption indicator;
        indicator.initFrom(this);
        indicator.rect = button.rect.adjusted(3, 1, -3, -1);
        if (pressed_ == arrow) indicator.rect.translate(1, 1);
        style()->drawPrimitive(arrow == Arrow::Up ? QStyle::PE_IndicatorArrowUp
                                                  : QStyle::PE_IndicatorArrowDown,
                               &indicator, &painter, this);
    }
}

QWidget *CreateSpinner(QWidget *parent, QWidget *buddy, int upper, int lower, int position) {
    auto *box = qobject_cast<QLineEdit *>(buddy);
    if (!parent || !box || box->parentWidget() != parent) return nullptr;
    return new UpDownControl(parent, box, upper, lower, position);
}

void DestroyControlWindow(QWidget *control) {
    delete control;
}

} // namespace nubaro
