#include "WindowSheet.h"

#include "DeviceChoice.h"
#include "Folder.h"
#include "MiddleCutLabel.h"
#include "PlainText.h"
#include "Text/Duration.h"
#include "Transfer/Plan.h"
#include "UiQueue.h"

#include <QAccessible>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <cmath>

namespace {

// The bar counts in thousandths of a percent: 99.9 stands as 99.9, not rounded to 100.
constexpr int Int_BarScale = 1000;

// The transfer knows no Qt and speaks English; its fixed texts are put into the window's language
// here, and listed for lupdate. Sentences that name files stay as the transfer writes them.
[[maybe_unused]] constexpr const char* TransferTexts[] = {
    QT_TRANSLATE_NOOP("Transfer", "Sending..."),
    QT_TRANSLATE_NOOP("Transfer", "Waiting for the device..."),
    QT_TRANSLATE_NOOP("Transfer", "Complete Update"),
    QT_TRANSLATE_NOOP("Transfer", "Update Incomplete"),
};

QString translated(const std::string& text)
{
    return QCoreApplication::translate("Transfer", text.c_str());
}

} // namespace

WindowSheet::WindowSheet(UiQueue& queue, const Elements& elements, std::function<void()> end)
    : mQueue(queue)
    , mElements(elements)
    , mEnd(std::move(end))
{
}

std::string WindowSheet::folderText()
{
    return mQueue.call<std::string>([this] { return mElements.folder(); }).value_or(std::string());
}

void WindowSheet::setFileText(const std::string& name)
{
    mQueue.post([this, name] { mElements.file->setWholeText(displayName(name)); });
}

bool WindowSheet::sendDamaged(const std::string& reasons)
{
    return askToSendAnyway(QStringLiteral("damagedQuestion"), QObject::tr("Damaged Files"),
        QObject::tr("Some files of this update are damaged. Send the update anyway?"),
        QString::fromStdString(reasons)
            + QObject::tr("\n\nA device given part of an update may not start again."));
}

bool WindowSheet::shareDestination(const std::string& senders)
{
    return askToSendAnyway(QStringLiteral("sharedQuestion"), QObject::tr("Other Senders"),
        QObject::tr("Other programs send to this device too. Send the update anyway?"),
        QString::fromStdString(senders));
}

// Cancel is the default: a question left unread sends nothing.
bool WindowSheet::askToSendAnyway(
    const QString& name, const QString& title, const QString& text, const QString& details)
{
    return mQueue
        .call<bool>([this, name, title, text, details] {
            QMessageBox question(
                QMessageBox::Warning, title, text, QMessageBox::Cancel, mElements.alertParent);
            question.setObjectName(name);
            question.setInformativeText(details);
            question.addButton(QObject::tr("Send Anyway"), QMessageBox::AcceptRole);
            question.setDefaultButton(QMessageBox::Cancel);
            question.setEscapeButton(QMessageBox::Cancel);
            return ask(question) == QMessageBox::AcceptRole;
        })
        .value_or(false);
}

void WindowSheet::showStatus(const std::string& text)
{
    (void)mQueue.call<bool>([this, text] {
        mElements.status->setText(translated(text));
        mElements.status->repaint();
        return true;
    });
}

// A range of 0 to 0 is Qt's busy display, which animates by itself; leaving it stops the
// animation.
void WindowSheet::startSending()
{
    mQueue.post([this] { mElements.bar->setRange(0, 100 * Int_BarScale); });
}

// A screen reader is told every value the bar takes, and would read out a stream of them: while
// one listens, the bar moves in steps of 10 %, and the percent field beside it still shows each
// whole percent to the eye.
void WindowSheet::setProgress(double percent)
{
    mQueue.post([this, percent] {
        const double shown = QAccessible::isActive() ? std::floor(percent / 10) * 10 : percent;
        mElements.bar->setValue(static_cast<int>(shown * Int_BarScale));
    });
}

void WindowSheet::setPercentText(const std::string& text)
{
    mQueue.post([this, text] { mElements.percent->setText(QString::fromStdString(text)); });
}

// A closed queue (quit) reads as the no-device entry.
std::optional<std::size_t> WindowSheet::selectedDestination()
{
    return DeviceChoice::destinationOf(
        mQueue.call<int>([this] { return mElements.devicePopUp->currentIndex(); }).value_or(0));
}

void WindowSheet::showRemaining(const transfer::Remaining& remaining)
{
    mQueue.post([this, remaining] {
        const QLocale locale;
        mElements.remaining->setText(
            QObject::tr("%1 of %2 bytes, %3 left")
                .arg(locale.toString(qulonglong(remaining.bytesSent)),
                    locale.toString(qulonglong(remaining.bytesTotal)),
                    QString::fromStdString(
                        text::duration(remaining.microseconds, text::DurationStyle::Words))));
    });
}

// What the device said follows the problems, a blank line between.
void WindowSheet::showAlert(
    const transfer::Outcome& outcome, const std::string& message, const std::string& heard)
{
    const std::string title = transfer::alertTitle(outcome);
    const std::string informative
        = message + (message.empty() || heard.empty() ? "" : "\n\n") + heard;
    (void)mQueue.call<bool>([this, title, informative] {
        QMessageBox alert(QMessageBox::NoIcon, translated(title), translated(title),
            QMessageBox::Ok, mElements.alertParent);
        alert.setObjectName(QStringLiteral("alert"));
        alert.setInformativeText(QString::fromStdString(informative));
        ask(alert);
        return true;
    });
}

QMessageBox::ButtonRole WindowSheet::ask(QMessageBox& box)
{
    showWhole(box);
    mModal = &box;
    box.exec();
    return box.clickedButton() ? box.buttonRole(box.clickedButton()) : QMessageBox::RejectRole;
}

void WindowSheet::end()
{
    mEnd();
}

void WindowSheet::dismiss()
{
    if (mModal)
        mModal->reject();
}
