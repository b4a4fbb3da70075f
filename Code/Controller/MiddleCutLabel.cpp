#include "MiddleCutLabel.h"

#include "PlainText.h"

MiddleCutLabel::MiddleCutLabel(QWidget* parent)
    : QLabel(parent)
{
}

void MiddleCutLabel::setWholeText(const QString& text)
{
    mWholeText = text;
    fit();
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
    setToolTip(shown == mWholeText ? QString() : plainToolTip(mWholeText));
}
