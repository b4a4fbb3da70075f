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

// One line's height and no width: a window made wide for a long name can be made narrow again,
// the name cut anew.
QSize MiddleCutLabel::minimumSizeHint() const
{
    return { 0, QLabel::minimumSizeHint().height() };
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
