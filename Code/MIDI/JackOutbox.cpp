#include "JackOutbox.h"

#include "JackCommon.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <jack/midiport.h>
#include <jack/statistics.h>
#include <span>

namespace midi::jack {

namespace {

std::size_t slot(Evidence evidence)
{
    return static_cast<std::size_t>(evidence);
}

// What an event of size bytes adds to PipeWire's sequence.
std::size_t sequenced(std::uint32_t size)
{
    return Outbox::EventHeader + (std::size_t { size } + 7) / 8 * 8;
}

} // namespace

bool Wakeup::waitUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto since = deadline.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    const timespec until { static_cast<time_t>(seconds.count()),
        static_cast<long>(std::chrono::nanoseconds(since - seconds).count()) };
    // steady_clock is CLOCK_MONOTONIC with libstdc++.
    while (sem_clockwait(&mSemaphore, CLOCK_MONOTONIC, &until) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

Outbox::Outbox()
    : mMargin(std::strstr(jack_get_version_string(), "PipeWire") ? 1 : 0)
{
}

int Outbox::process(jack_nframes_t frames, void* self) noexcept
{
    auto& outbox = *static_cast<Outbox*>(self);
    outbox.inProcess.store(true);
    jack_port_t* output = outbox.port.load();
    jack_client_t* client = outbox.client.load();
    if (output && client)
        outbox.serve(client, output, frames);
    outbox.inProcess.store(false);
    outbox.cycles.fetch_add(1);
    if (outbox.waiting.load())
        outbox.wakeup.post();
    return 0;
}

// jack2 calls this on a thread of its own, PipeWire's JACK at the start of the process thread's
// next cycle.
int Outbox::xrun(void* self) noexcept
{
    static_cast<Outbox*>(self)->mXrunReports.fetch_add(1);
    return 0;
}

void Outbox::shutdown(void* self) noexcept
{
    auto& outbox = *static_cast<Outbox*>(self);
    outbox.shutDown.store(true);
    outbox.wakeup.post();
}

void Outbox::shutdownWithReason(jack_status_t, const char*, void* self) noexcept
{
    shutdown(self);
}

void Outbox::serve(jack_client_t* client, jack_port_t* output, jack_nframes_t frames) noexcept
{
    void* buffer = jack_port_get_buffer(output, frames);
    bufferTaken(buffer);
    jack_midi_clear_buffer(buffer);
    if (largest.load() == 0)
        measure(buffer);
    const jack_nframes_t start = jack_last_frame_time(client);
    const bool connected = jack_port_connected(output) > 0;
    ++mServed;
    weigh(client, start, connected);
    if (abandoned.load()) {
        Parcel parcel;
        while (queue.readable() >= sizeof parcel) {
            queue.peek(std::as_writable_bytes(std::span(&parcel, 1)));
            queue.consume(sizeof parcel + parcel.size);
            mDealtId = parcel.id;
        }
    } else if (!connected) {
        failQueued();
    } else {
        write(buffer, start, frames);
    }
    // Published last, so that the sender sees the totals of every message up to it.
    judgedId.store(mWrittenCount > 0 ? mWritten[0].first - 1 : mDealtId);
    bufferDone(buffer);
    mPreviousStart = start;
    mPreviousFrames = frames;
}

// Looks for evidence that the cycles just before this one went wrong, and gives the messages
// whose evidence is all in their fate.
void Outbox::weigh(jack_client_t* client, jack_nframes_t start, bool connected) noexcept
{
    // jack2 reports two kinds of xrun through one callback, with no word of which. Either the
    // server began a cycle late (its driver noticed); every client still runs that cycle, so
    // nothing is lost, and the report comes with a new delay figure. Or a client had not finished
    // its cycle when the next began, which only a server that does not wait for its clients lets
    // happen (jack2's asynchronous mode): a destination then reads a buffer late or not at all.
    // Reports the new delay figures do not explain are of the second kind. A figure can repeat by
    // chance, so they only count once this port has seen such a server run its own cycles out of
    // step; a server that waits for its clients never does.
    const float delay = jack_get_xrun_delayed_usecs(client);
    const std::uint64_t reports = mXrunReports.load();
    if (mServed == 1) {
        mLastDelay = delay;
        mReportsBase = reports;
        mReportsBefore = reports;
        return;
    }
    const bool outOfStep = start != mPreviousStart + mPreviousFrames;
    mOutOfStepSeen = mOutOfStepSeen || outOfStep;
    mOutOfStepNow = outOfStep;
    if (delay != mLastDelay && delay != 0.0f)
        ++mLateCycles;
    mLastDelay = delay;
    // Reports counted at the previous cycle: a late cycle's report may arrive before this cycle
    // notices the new figure, never before the previous one did.
    const auto unexplained = static_cast<std::int64_t>(mReportsBefore - mReportsBase)
        - static_cast<std::int64_t>(mLateCycles);
    mReportsBefore = reports;
    const bool clientMissedCycle = unexplained > mUnexplainedHigh;
    mUnexplainedHigh = std::max(mUnexplainedHigh, unexplained);

    const std::uint64_t window = mServed > JudgedAfter ? mServed - JudgedAfter : 0;
    if (!connected)
        blame(Evidence::Disconnected, window);
    if (outOfStep)
        blame(Evidence::OutOfStep, mServed - 1);
    if (clientMissedCycle && mOutOfStepSeen)
        blame(Evidence::Xrun, window);

    std::size_t kept = 0;
    for (std::size_t i = 0; i < mWrittenCount; ++i) {
        const Written& written = mWritten[i];
        if (written.served + JudgedAfter > mServed)
            mWritten[kept++] = written;
        else if (written.evidence != Evidence::None)
            uncertain[slot(written.evidence)].fetch_add(written.last - written.first + 1);
    }
    mWrittenCount = kept;
}

// An empty buffer's largest event, the buffer's header and one event's entry: the sequence made
// of a buffer is never larger than the buffer. One message alone must fit both.
void Outbox::measure(void* buffer) noexcept
{
    constexpr std::size_t BufferHeader = 24 + 8; // PipeWire's; jack2's is larger
    const std::size_t empty = jack_midi_max_event_size(buffer);
    mSequenceBytes = std::min(SequenceBytes, empty + BufferHeader);
    const std::size_t alone = (mSequenceBytes - SequenceHeader - EventHeader) / 8 * 8;
    largest.store(
        static_cast<std::uint32_t>(std::min(empty - std::min<std::size_t>(empty, mMargin), alone)));
}

// Whether a message of size bytes still goes whole into this cycle, whose sequence has taken
// used bytes so far.
bool Outbox::fits(void* buffer, std::size_t used, std::uint32_t size) const noexcept
{
    return used + sequenced(size) <= mSequenceBytes
        && std::size_t { size } + mMargin <= jack_midi_max_event_size(buffer);
}

void Outbox::blame(Evidence evidence, std::uint64_t fromServed) noexcept
{
    for (std::size_t i = 0; i < mWrittenCount; ++i)
        if (mWritten[i].served >= fromServed && mWritten[i].evidence == Evidence::None)
            mWritten[i].evidence = evidence;
}

// Places each message whose frame falls in this cycle at its offset, in order. A message never
// follows the one before sooner than it was sent after it: when one went out late (its cycle had
// begun before it was queued, or the buffer was full), the ones after it go that much later too,
// until the sender settles.
void Outbox::write(void* buffer, jack_nframes_t start, jack_nframes_t frames) noexcept
{
    bool any = false;
    std::size_t used = SequenceHeader;
    jack_nframes_t lastOffset = 0;
    Parcel parcel;
    while (queue.readable() >= sizeof parcel) {
        queue.peek(std::as_writable_bytes(std::span(&parcel, 1)));
        jack_nframes_t at = parcel.frame;
        if (!parcel.fresh && mPlacedAny) {
            const jack_nframes_t carried = mLastPlaced + (parcel.frame - mLastAsked);
            if (framesFrom(at, carried) > 0)
                at = carried;
        }
        const std::int32_t ahead = framesFrom(start, at);
        if (ahead >= static_cast<std::int32_t>(frames))
            break; // a later cycle's, and so is everything after it
        jack_nframes_t offset = ahead > 0 ? static_cast<jack_nframes_t>(ahead) : 0;
        if (any)
            offset = std::max(offset, lastOffset); // a buffer holds its events in time order
        jack_midi_data_t* event = fits(buffer, used, parcel.size)
            ? jack_midi_event_reserve(buffer, offset, parcel.size)
            : nullptr;
        if (!event && any)
            break; // the cycle is full: the rest waits for the next one, late, never early
        if (!event) {
            // Not even an empty cycle takes it; the sender checks sizes, so this is a server
            // whose buffers shrank.
            tooLarge.fetch_add(1);
            tooLargeBytes.fetch_add(parcel.size);
        } else {
            used += sequenced(parcel.size);
            queue.peek(std::as_writable_bytes(std::span(event, parcel.size)), sizeof parcel);
            any = true;
            lastOffset = offset;
            mPlacedAny = true;
            mLastPlaced = start + offset;
            mLastAsked = parcel.frame;
            carry(parcel.id);
        }
        queue.consume(sizeof parcel + parcel.size);
        mDealtId = parcel.id;
        dealtId.store(parcel.id);
        dealtBytes.fetch_add(parcel.size);
    }
}

void Outbox::carry(std::uint64_t id) noexcept
{
    if (mWrittenCount > 0 && mWritten[mWrittenCount - 1].served == mServed) {
        mWritten[mWrittenCount - 1].last = id;
        return;
    }
    // The cycles before were given their fates in weigh(), so there is room.
    mWritten[mWrittenCount++]
        = { mServed, id, id, mOutOfStepNow ? Evidence::OutOfStep : Evidence::None };
}

// Nothing can be delivered without a connection, and the sender only queues while it has one:
// the destination has gone, and everything queued for it with it.
void Outbox::failQueued() noexcept
{
    Parcel parcel;
    while (queue.readable() >= sizeof parcel) {
        queue.peek(std::as_writable_bytes(std::span(&parcel, 1)));
        notConnected.fetch_add(1);
        notConnectedBytes.fetch_add(parcel.size);
        queue.consume(sizeof parcel + parcel.size);
        mDealtId = parcel.id;
        dealtId.store(parcel.id);
        dealtBytes.fetch_add(parcel.size);
    }
}

} // namespace midi::jack
