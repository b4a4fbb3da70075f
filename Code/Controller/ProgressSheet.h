#pragma once

#include <QDialog>

// The progress sheet's window. A transfer cannot be dropped by closing its sheet: Escape and the
// window's close button ask for a cancel, like the Cancel button, and the sheet stays up until
// the transfer has ended and the controller ends it with done().
class ProgressSheet : public QDialog {
    Q_OBJECT

public:
    explicit ProgressSheet(QWidget* parent);

    void reject() override;

signals:
    void cancelRequested();
};
