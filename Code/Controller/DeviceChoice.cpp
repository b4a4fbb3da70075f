#include "DeviceChoice.h"

#include "Folder.h"
#include "MidiConnection.h"
#include "PlainText.h"
#include "Transfer/Identify.h"
#include "TransferRunner.h"
#include "UiQueue.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QMessageBox>
#include <algorithm>

namespace {

// What the Pace menu's items ask for, in the menu's order: the first is the files' own pace.
constexpr std::array<double, 4> PaceFactors { 1, 1.5, 2, 4 };

} // namespace

DeviceChoice::DeviceChoice(
    const Elements& elements, MidiConnection& connection, TransferRunner& runner, UiQueue& queue)
    : mElements(elements)
    , mConnection(connection)
    , mRunner(runner)
    , mQueue(queue)
    , mPaceGroup(new QActionGroup(elements.alertParent))
{
    // The separator is an entry of its own, so that entry k stands for destination k - 2; a
    // separator cannot be selected, by the mouse or by the arrow keys.
    mElements.popUp->insertSeparator(1);
    for (QAction* item : mElements.paceItems) {
        mPaceGroup->addAction(item);
        connect(item, &QAction::triggered, this, &DeviceChoice::paceChosen);
    }
    connect(mElements.identifyItem, &QAction::triggered, this, &DeviceChoice::identify);
    connect(&mConnection, &MidiConnection::destinationsChanged, this,
        &DeviceChoice::destinationsChanged);
}

std::optional<std::size_t> DeviceChoice::destinationOf(int entry)
{
    if (entry < 2)
        return std::nullopt;
    return static_cast<std::size_t>(entry - 2);
}

std::optional<std::size_t> DeviceChoice::chosen() const
{
    const std::optional<std::size_t> destination = destinationOf(mElements.popUp->currentIndex());
    if (!mConnection.client() || !destination
        || *destination >= mConnection.client()->destinations().size())
        return std::nullopt;
    return destination;
}

double DeviceChoice::bytesPerSecond() const
{
    const std::optional<std::size_t> destination = chosen();
    return destination ? mConnection.client()->destinations()[*destination].bytesPerSecond : 0;
}

double DeviceChoice::slower() const
{
    const auto checked = std::ranges::find(mElements.paceItems, mPaceGroup->checkedAction());
    return checked == mElements.paceItems.end()
        ? PaceFactors[0]
        : PaceFactors[static_cast<std::size_t>(checked - mElements.paceItems.begin())];
}

void DeviceChoice::showConnecting()
{
    mNoDevice = mElements.popUp->itemText(0);
    mElements.popUp->setItemText(0, tr("Connecting to the MIDI service..."));
}

void DeviceChoice::connected(bool fresh)
{
    const midi::Client& client = *mConnection.client();
    // Every destination gets an entry, same names included, its name escaped as text::printable
    // does.
    if (fresh) {
        for (const midi::Destination& destination : client.destinations())
            addDestination(destination);
    }
    // A service that did not answer is named in the pop-up until it does.
    const std::string problem = client.problem();
    mElements.popUp->setItemText(0,
        mConnection.port() || !client.leftWaiting()
            ? mNoDevice
            : QString::fromStdString(problem.substr(0, problem.find_first_of(":("))).trimmed());
    if (mChanged && !mFrozen)
        destinationsChanged();
}

void DeviceChoice::thaw()
{
    mFrozen = false;
    if (mChanged)
        destinationsChanged();
}

void DeviceChoice::destinationsChanged()
{
    // A change told before the client reached the window is listed once it has.
    mChanged = mFrozen || !mConnection.client() || mConnection.connecting();
    if (mChanged)
        return;
    midi::Client& client = *mConnection.client();
    const std::optional<std::size_t> destination = chosen();
    const std::string chosenId = destination ? client.destinations()[*destination].id : "";
    client.refreshDestinations();
    while (mElements.popUp->count() > 2)
        mElements.popUp->removeItem(2);
    int reselected = 0;
    for (const midi::Destination& listed : client.destinations()) {
        addDestination(listed);
        if (!chosenId.empty() && listed.id == chosenId)
            reselected = mElements.popUp->count() - 1;
    }
    mElements.popUp->setCurrentIndex(reselected);
    emit changed();
    if (mConnection.openPort())
        mElements.popUp->setItemText(0, tr("Connecting to the MIDI service..."));
}

void DeviceChoice::addDestination(const midi::Destination& destination)
{
    mElements.popUp->addItem(displayName(destination.name));
    if (!destination.answers)
        mElements.popUp->setItemData(mElements.popUp->count() - 1,
            tr("This device cannot answer: Morvex finds no way back from it."), Qt::ToolTipRole);
}

void DeviceChoice::enableIdentify(bool sheetUp)
{
    const std::optional<std::size_t> destination = chosen();
    mElements.identifyItem->setEnabled(mConnection.port() && destination
        && mConnection.client()->destinations()[*destination].answers && !sheetUp);
}

// Like a transfer, it holds the send lock and runs on the transfer's thread, with a clock of its
// own that quitting stops; the answer is shown on the UI thread once the lock is free again.
void DeviceChoice::identify()
{
    const std::optional<std::size_t> destination = chosen();
    if (!destination || !mConnection.port() || !mRunner.take())
        return;
    emit asking();
    mElements.identifyItem->setEnabled(false);
    // The list stays as it is while the question reads it: the way back's own client comes and
    // goes meanwhile.
    freeze();
    mRunner.start([this, destination = *destination] {
        midi::WayBackResult listening = mConnection.client()->listen(destination);
        std::string answer = listening
            ? "This device cannot answer: Morvex finds no way back from it."
            : listening.reason();
        if (listening && listening.value())
            answer = transfer::identifiedText(transfer::identify(
                *mConnection.port(), *listening.value(), destination, mRunner.clock()));
        listening = midi::noWayBack();
        mRunner.release();
        mQueue.post([this, answer] {
            thaw();
            emit changed();
            QMessageBox box(QMessageBox::NoIcon, tr("Identify Device"), tr("Identify Device"),
                QMessageBox::Ok, mElements.alertParent);
            box.setObjectName(QStringLiteral("identified"));
            box.setInformativeText(QString::fromStdString(answer));
            showWhole(box);
            box.exec();
        });
    });
}
