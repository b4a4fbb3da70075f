#pragma once

#include <QLabel>

// A one-line label for a name that may be longer than the room it has (a file name takes up to
// 255 bytes): cut in the middle with an ellipsis to the label's width, its beginning and end
// kept, and shown whole in its tooltip. It asks for no width of its own, so that a long name
// never widens its window and pushes the buttons beside it out.
class MiddleCutLabel : public QLabel {
    Q_OBJECT

public:
    explicit MiddleCutLabel(QWidget* parent = nullptr);

    // What the label stands for; text() is what of it fits.
    void setWholeText(const QString& text);
    const QString& wholeText() const { return mWholeText; }

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fit();

    QString mWholeText;
};
