#pragma once

#include "MIDI/Midi.h"
#include "SMF/_SMF.h"
#include "Timing/Clock.h"
#include "Transfer/Outcome.h"
#include "Transfer/Plan.h"
#include "Transfer/Sheet.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace transfer {

// How long the device may hold the update with a WAIT without a word before the update stops.
constexpr std::uint32_t Time_DeviceWaitLimit = 30'000'000;

// Opens the chosen destination's way back, for a transfer that listens to the device.
using Listen = std::function<midi::WayBackResult(std::size_t destination)>;

// One Send: reads every listed file and totals its message bytes, asks before sending damaged
// files, then sends each file's messages to the destination chosen in the sheet, each after its
// delay and a 2 s pause before every file but the first listed, and shows the progress; it ends
// with "Complete Update", or with "Update Incomplete" naming what went wrong, unless it was
// declined, cancelled or stopped, and always with the sheet's end. Run it on a thread of its own:
// it sleeps and waits for the sheet.
class Transfer {
public:
    // files: the names, without folder, in list order; the folder comes from the sheet.
    // destinations: the MIDI service's destinations by index, for the texts and the wire time.
    // cancel: raised by Cancel; read at the checks before each file of each pass, after the size
    // pass, before each message and before the alert, never during a wait. The clock times every
    // wait, the port's pacing included, and stops the run. Every reference must outlive run().
    // slower: the update's pace, from Factor_LeastSlower (as the files say) to Factor_MostSlower.
    // listen: given, the transfer listens to the destination's way back from the first message
    // to the end and acts on the handshake: NAK or CANCEL stop the update before its next
    // message, WAIT holds the next message until the device says anything else (Cancel works,
    // Time_DeviceWaitLimit without a word, at the update's pace, stops the update), ACK is
    // counted. Without it, or without a way back, the update runs deaf.
    Transfer(Sheet& sheet, midi::OutputPort& port, timing::Clock& clock,
        std::vector<std::string> files, std::vector<midi::Destination> destinations,
        const std::atomic<bool>& cancel, double slower = Factor_LeastSlower, Listen listen = {});

    Outcome run();

private:
    // The steps of a run. Each answers false when the run ends there, with how in mOutcome.
    bool sizePass();
    bool askAboutDamage();
    bool askAboutSharing();
    bool sendPass();
    // These answer false when a stop request ended the run.
    bool sendFile(std::size_t index);
    bool sendEvents(const std::string& name, const std::vector<_Event>& events);
    bool wait(std::uint32_t microseconds); // as the file says: it lasts longer at a slower pace
    // What the device said since the last look, after arrived (taken already): counted, kept,
    // and acted on.
    void hear(std::vector<std::vector<std::uint8_t>> arrived = {});
    enum class Go { On, Halt, Stop };
    // Before a message: On when the device lets it go; Halt when it refused, a hold ended in
    // Cancel or in silence; Stop when a stop request came during a hold.
    Go deviceLetsGo();
    // After the last message: the device's answers to it, until it has been quiet a while.
    bool hearTheLastWord();
    bool end(Outcome::End how); // always false
    void judge(std::size_t index, const FileReading& sent);
    void problem(FileProblem::Kind kind, std::string text);
    void showProgress();
    void showRemaining(std::uint64_t waiting);
    std::string destinationName() const;
    double bytesPerSecond() const; // at the destination's own pace
    std::string takeUp(std::size_t index);
    void finish();

    Sheet& mSheet;
    midi::OutputPort& mPort;
    timing::Clock& mClock;
    const std::vector<std::string> mFiles;
    const std::vector<midi::Destination> mDestinations;
    const std::atomic<bool>& mCancel;
    const double mSlower;
    const Listen mListen;

    // One run's state.
    Plan mPlan; // what the size pass read
    std::optional<std::size_t> mDestination;
    std::uint64_t mMicrosecondsLeft = 0; // of the plan, counted down as the send pass goes
    // A send found the destination or the service gone: every later message fails at once, so
    // the files after it are named without their pauses and delays.
    bool mRouteGone = false;
    // A send found another program sending to the destination: nothing more goes out.
    bool mHalted = false;
    std::unique_ptr<midi::WayBack> mWayBack; // while the send pass listens
    std::string mFollowed; // the last message sent, as a reply names it
    bool mHeld = false; // the device's last word was WAIT
    bool mDeviceStopped = false; // a refusal, or silence after WAIT, ended the update
    std::uint64_t mMessagesSent = 0; // handed to the service whole, whether it vouched for them or not
    Outcome mOutcome;
};

} // namespace transfer
