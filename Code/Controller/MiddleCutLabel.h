#pragma once

#include <QLabel>

// A one-line label for a name that may be longer than the room it has (a file name takes up to
// 255 bytes): cut in the middle with an ellipsis to the label's width, its beginning and end
// kept, and shown whole in its tooltip. Cut to the width it is given, and again whenever that
// changes, it never asks for more: a long name does not widen its window and push the buttons
// beside it out.
class MiddleCutLabel : public QLabel {
    Q_OBJECT

public:
    explicit MiddleCutLabel(QWidget* parent = nullptr);

    // What the label stands for; text() is what of it fits, toolTip() the whole when cut.
    void setWholeText(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fit();

    QString mWholeText;
};
