#pragma once

// The real-time half of the JACK output: what JACK's process thread does in each cycle with the
// messages the sending thread queued, and what it tells that thread back. Everything the process
// thread touches is here; it takes no lock, allocates nothing and throws nothing.

#include "SpscRing.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <jack/jack.h>
#include <semaphore.h>

namespace midi::jack {

// A wait that JACK's threads can end: sem_post is safe in the process callback and even in a
// signal handler, which is how JACK may call the shutdown callback.
class Wakeup {
public:
    Wakeup() { sem_init(&mSemaphore, 0, 0); }
    ~Wakeup() { sem_destroy(&mSemaphore); }
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    void post() noexcept { sem_post(&mSemaphore); }

    // False when deadline passed first.
    bool waitUntil(std::chrono::steady_clock::time_point deadline);

private:
    sem_t mSemaphore;
};

// Ahead of each message in the queue.
struct Parcel {
    std::uint64_t id; // 1, 2, 3, ... in the order of sending
    jack_nframes_t frame; // where it belongs on the server's frame counter
    std::uint32_t size;
    bool fresh; // the first since the sender last settled: no earlier lateness to carry over
};

// Why the process thread cannot vouch for a message it wrote.
enum class Evidence : std::uint8_t {
    None,
    Disconnected, // the destination went within a few cycles of the message's
    OutOfStep, // the server ran this port's cycles out of step around the message's
    Xrun, // a client missed its cycle around the message's
};

// The process thread's part. It outlives the client handle, so no callback can run once it is gone.
class Outbox {
public:
    Outbox();

    // Room for the messages of a few cycles; a sender that gets ahead of the cycles waits.
    static constexpr std::size_t QueueBytes = std::size_t { 256 } * 1024;
    // Cycles after the one that writes a message in which evidence against it still counts. jack2
    // reports an xrun from another thread, some cycles after the one it concerns: two more cycles
    // missed some losses when this was measured, three caught most.
    static constexpr std::uint64_t JudgedAfter = 3;

    // PipeWire's libjack turns a cycle's MIDI into one sequence of at most this many bytes and
    // drops the whole cycle's MIDI past it: SequenceHeader, then for each event EventHeader and
    // its bytes rounded up to 8. jack2 needs less room for the same events, so keeping within
    // this keeps within both.
    static constexpr std::size_t SequenceBytes = 32768;
    static constexpr std::size_t SequenceHeader = 16;
    static constexpr std::size_t EventHeader = 16;

    static int process(jack_nframes_t frames, void* self) noexcept;
    static int xrun(void* self) noexcept;
    // jack2 calls the second when a client has registered both, PipeWire's libjack only the
    // first.
    static void shutdown(void* self) noexcept;
    static void shutdownWithReason(jack_status_t, const char*, void* self) noexcept;

    // Set before the client is activated, and when the port is created or goes.
    std::atomic<jack_client_t*> client { nullptr };
    std::atomic<jack_port_t*> port { nullptr };

    // From the sending thread.
    SpscRing queue { QueueBytes };
    std::atomic<bool> abandoned { false }; // the sender gave up: drop what is queued
    std::atomic<bool> waiting { false }; // the sender waits on wakeup
    Wakeup wakeup;

    // From JACK's threads to the sending thread.
    std::atomic<bool> shutDown { false };
    std::atomic<bool> inProcess { false };
    std::atomic<std::uint64_t> cycles { 0 };
    // The largest message one cycle carries whole, found from the port's buffer in its first
    // cycle.
    std::atomic<std::uint32_t> largest { 0 };
    std::atomic<std::uint64_t> dealtId { 0 }; // the last message written or given up on
    std::atomic<std::uint64_t> dealtBytes { 0 }; // the bytes of every message up to it
    std::atomic<std::uint64_t> judgedId { 0 }; // every message up to this one has had its fate
    // Running totals, by fate, of the messages the process thread gave up on or cannot vouch for.
    std::atomic<std::uint64_t> notConnected { 0 };
    std::atomic<std::uint64_t> notConnectedBytes { 0 };
    std::atomic<std::uint64_t> tooLarge { 0 };
    std::atomic<std::uint64_t> tooLargeBytes { 0 };
    std::array<std::atomic<std::uint64_t>, 4> uncertain {}; // by Evidence

private:
    // The messages one cycle wrote, until their evidence is in.
    struct Written {
        std::uint64_t served; // which of this port's cycles wrote them
        std::uint64_t first;
        std::uint64_t last;
        Evidence evidence;
    };

    void serve(jack_client_t* client, jack_port_t* output, jack_nframes_t frames) noexcept;
    void weigh(jack_client_t* client, jack_nframes_t start, bool connected) noexcept;
    void write(void* buffer, jack_nframes_t start, jack_nframes_t frames) noexcept;
    void failQueued() noexcept;
    void blame(Evidence evidence, std::uint64_t fromServed) noexcept;
    void carry(std::uint64_t id) noexcept;
    void measure(void* buffer) noexcept;
    bool fits(void* buffer, std::size_t used, std::uint32_t size) const noexcept;

    std::atomic<std::uint64_t> mXrunReports { 0 };

    // PipeWire's libjack (up to 0.3.65 at least) lets an event fill the last byte its buffer
    // reports free, and that byte is the top of the event's own offset in the buffer: the
    // offset then points far away, and PipeWire's libjack reads there and crashes. Under it every
    // event leaves a byte free.
    const std::uint32_t mMargin;
    std::size_t mSequenceBytes = SequenceBytes; // what a cycle's sequence may take

    // The process thread's own.
    std::uint64_t mServed = 0; // cycles this port has served, this one included
    jack_nframes_t mPreviousStart = 0;
    jack_nframes_t mPreviousFrames = 0;
    bool mOutOfStepNow = false; // this cycle does not follow the one served before
    bool mOutOfStepSeen = false;
    float mLastDelay = 0.0f; // the server's delay figure of its latest late cycle
    std::uint64_t mLateCycles = 0; // new delay figures seen
    std::uint64_t mReportsBase = 0; // xrun reports before the first cycle served
    std::uint64_t mReportsBefore = 0; // xrun reports counted at the previous cycle
    std::int64_t mUnexplainedHigh = 0;
    bool mPlacedAny = false;
    jack_nframes_t mLastPlaced = 0; // where the last message went
    jack_nframes_t mLastAsked = 0; // and where it belonged
    std::uint64_t mDealtId = 0; // the last message written or given up on
    std::array<Written, JudgedAfter + 1> mWritten {};
    std::size_t mWrittenCount = 0;
};

} // namespace midi::jack
