#pragma once

#include "Transfer/Sheet.h"

#include <QMessageBox>
#include <QPointer>
#include <functional>
#include <string>

class MiddleCutLabel;
class QComboBox;
class QLabel;
class QProgressBar;
class QWidget;
class UiQueue;

// The progress sheet as the transfer thread sees it. Every call comes from that thread and is
// carried to the UI thread in call order through the UI queue: setters are posted and return at
// once; the reads, the status field's redraw and the alert wait for the UI thread. Should the
// queue close under a waiting call (quit), the read answers an empty folder and the no-device
// entry, and the transfer, already told to stop, goes to its end without sending.
class WindowSheet final : public transfer::Sheet {
public:
    struct Elements {
        QWidget* alertParent;
        std::function<std::string()> folder; // the folder's path as bytes, read on the UI thread
        QComboBox* devicePopUp;
        QLabel* status;
        MiddleCutLabel* file;
        QProgressBar* bar;
        QLabel* percent;
        QLabel* remaining;
    };

    // end is what the controller does when a transfer is over; it runs on the transfer thread.
    WindowSheet(UiQueue& queue, const Elements& elements, std::function<void()> end);

    std::string folderText() override;
    void setFileText(const std::string& name) override;
    bool sendDamaged(const std::string& reasons) override;
    bool shareDestination(const std::string& senders) override;
    void showStatus(const std::string& text) override;
    void startSending() override;
    void setProgress(double percent) override;
    void setPercentText(const std::string& text) override;
    void showRemaining(const transfer::Remaining& remaining) override;
    std::optional<std::size_t> selectedDestination() override;
    void showAlert(const transfer::Outcome& outcome, const std::string& message,
        const std::string& heard) override;
    void end() override;

    // UI thread: dismisses the alert or a question if one is up, as if its
    // Escape button had been pressed.
    void dismiss();

private:
    UiQueue& mQueue;
    const Elements mElements;
    const std::function<void()> mEnd;
    // Runs box on the UI thread until it is answered or dismissed; returns the button pressed.
    QMessageBox::ButtonRole ask(QMessageBox& box);
    // A question whose answer sends the update anyway; named name for tests and screen readers.
    bool askToSendAnyway(
        const QString& name, const QString& title, const QString& text, const QString& details);

    QPointer<QMessageBox> mModal; // UI thread only; the alert or the question while it is up
};
