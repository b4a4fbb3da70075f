#include "MiddleCutLabel.h"

MiddleCutLabel::MiddleCutLabel(QWidget* parent)
    : QLabel(parent)
{
}

void MiddleCutLabel::setWholeText(const QString& text)
{
    mWholeText = text;
    fit();
}

// One line's height, whatever the name's length.
QSize MiddleCutLabel::sizeHint() const
{
    return { 0, QLabel::minimumSizeHint().height() };
}

QSize MiddleCutLabel::minimumSizeHint() const
{
    return sizeHint();
}

void MiddleCutLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    fit();
}

void MiddleCutLabel::fit()
{
    const QString shown
        = fontMetrics().elidedText(mWholeText, Qt::ElideMiddle, contentsRect().width());
    setText(shown);
    setToolTip(shown == mWholeText ? QString() : mWholeText);
}
