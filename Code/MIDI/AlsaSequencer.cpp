// The sequencer calls themselves: the one file of the ALSA backend that needs a sequencer to run.

#include "Alsa.h"
#include "Process/FileDescriptor.h"

#include <alsa/asoundlib.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace midi::alsa {

namespace {

// alsa-lib prints its own errors on the terminal (a machine without a sequencer gets "ALSA lib
// seq_hw.c:...open /dev/snd/seq failed" at every start); Morvex says in its own words what went
// wrong, and only where it matters, so its errors are dropped before the sequencer is opened.
void silentAlsaLib(const char*, int, const char*, int, const char*, ...) { }

int openQuietly(snd_seq_t** handle, int streams)
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(silentAlsaLib); });
    return snd_seq_open(handle, "default", streams, SND_SEQ_NONBLOCK);
}

// Why a client of ours could not be opened. The kernel runs out of room for programs' clients
// long before it runs out of memory, and says ENOMEM for both.
std::string openError(int result)
{
    if (result == -ENOMEM)
        return "the sequencer takes no more programs (64 at most): close one that uses MIDI and "
               "try again";
    return snd_strerror(result);
}

// One of libasound's opaque records, zeroed, as its _alloca macros make them, but in memory that
// outlives a loop: no libasound call to fail, no exception of ours to leave the library.
template <typename Info, std::size_t (*Size)()> class Record {
public:
    Record()
        : mCells((Size() + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t))
    {
    }
    Info* get() { return reinterpret_cast<Info*>(mCells.data()); }
    Info& operator*() { return *get(); }

private:
    std::vector<std::max_align_t> mCells;
};

using ClientRecord = Record<snd_seq_client_info_t, snd_seq_client_info_sizeof>;
using PortRecord = Record<snd_seq_port_info_t, snd_seq_port_info_sizeof>;

// libasound's getter of a client's name takes no const, though it only reads.
PortInfo describe(snd_seq_client_info_t& client, const snd_seq_port_info_t& port)
{
    return { { snd_seq_client_info_get_client(&client), snd_seq_port_info_get_port(&port) },
        snd_seq_client_info_get_name(&client), snd_seq_port_info_get_name(&port),
        snd_seq_port_info_get_capability(&port), snd_seq_port_info_get_type(&port),
        snd_seq_client_info_get_type(&client) == SND_SEQ_KERNEL_CLIENT,
        snd_seq_client_info_get_card(&client) };
}

using Handle = std::unique_ptr<snd_seq_t, int (*)(snd_seq_t*)>;

// A client of its own whose events a thread of its own reads as they come: it calls drain with
// the client's handle whenever events wait. An eventfd tells the thread to end.
class EventThread final : public Watch {
public:
    EventThread(Handle handle, process::FileDescriptor stop, std::function<void(snd_seq_t*)> drain)
        : mHandle(std::move(handle))
        , mStop(std::move(stop))
        , mDrain(std::move(drain))
        , mThread([this] { run(); })
    {
    }

    ~EventThread() override
    {
        const std::uint64_t one = 1;
        // An eventfd takes one 8-byte write at once.
        [[maybe_unused]] const ssize_t written = ::write(mStop.get(), &one, sizeof one);
        mThread.join();
    }
    EventThread(const EventThread&) = delete;
    EventThread& operator=(const EventThread&) = delete;

private:
    void run()
    {
        std::vector<pollfd> watched(
            static_cast<std::size_t>(snd_seq_poll_descriptors_count(mHandle.get(), POLLIN)) + 1);
        watched[0] = { mStop.get(), POLLIN, 0 };
        snd_seq_poll_descriptors(
            mHandle.get(), watched.data() + 1, static_cast<unsigned>(watched.size() - 1), POLLIN);
        for (;;) {
            // poll fails only for want of kernel memory; trying again is all there is to do.
            if (::poll(watched.data(), watched.size(), -1) < 0)
                continue;
            if (watched[0].revents != 0)
                return;
            mDrain(mHandle.get());
        }
    }

    Handle mHandle;
    process::FileDescriptor mStop;
    const std::function<void(snd_seq_t*)> mDrain;
    std::thread mThread;
};

// The eventfd that ends an EventThread, or why there is none.
morvex::Result<process::FileDescriptor> stopSignal()
{
    process::FileDescriptor stop(::eventfd(0, EFD_CLOEXEC));
    if (!stop.valid())
        return morvex::Failure { std::strerror(errno) };
    return stop;
}

// A client of its own, called name, that only takes events in; or libasound's reason why not.
morvex::Result<Handle> openInputClient(const std::string& name)
{
    snd_seq_t* opened = nullptr;
    if (const int result = openQuietly(&opened, SND_SEQ_OPEN_INPUT); result < 0)
        return morvex::Failure { openError(result) };
    Handle handle(opened, snd_seq_close);
    if (const int result = snd_seq_set_client_name(handle.get(), name.c_str()); result < 0)
        return morvex::Failure { snd_strerror(result) };
    return handle;
}

// An input client with a port of no MIDI type that nobody else sees: it only hears the
// sequencer's announcements.
morvex::Result<Handle> listenToAnnouncements(const std::string& name)
{
    morvex::Result<Handle> opened = openInputClient(name);
    if (!opened)
        return opened;
    snd_seq_t* handle = opened.value().get();
    const int port = snd_seq_create_simple_port(handle, "Announcements",
        SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT, SND_SEQ_PORT_TYPE_APPLICATION);
    const int result = port < 0
        ? port
        : snd_seq_connect_from(handle, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    if (result < 0)
        return morvex::Failure { snd_strerror(result) };
    return opened;
}

// Whether an announcement that waits tells of a client or a port that started, ended or changed;
// announcements lost to a full queue may have.
void tellChanges(snd_seq_t* handle, const std::function<void()>& changed)
{
    bool any = false;
    for (;;) {
        snd_seq_event_t* event = nullptr;
        const int result = snd_seq_event_input(handle, &event);
        if (result == -ENOSPC) {
            any = true;
            continue;
        }
        if (result < 0 || !event)
            break;
        any = any
            || (event->type >= SND_SEQ_EVENT_CLIENT_START && event->type <= SND_SEQ_EVENT_PORT_CHANGE);
    }
    if (any)
        changed();
}

// The longest message that is no SysEx: a status byte and two data bytes.
constexpr std::size_t ShortMessage = 3;

// Hands heard the bytes of every event that waits from the port at from, a SysEx piece as it
// came, any other event as the MIDI message it stands for, with its status byte. Events from
// elsewhere (a direct event from another program) are no part of what the device said. When the
// queue overflowed the sequencer emptied it: what was in it is lost, and a SysEx it cut goes on
// from the pieces after.
void passOn(snd_seq_t* handle, Address from, snd_midi_event_t& decoder,
    const Sequencer::Heard& heard)
{
    for (;;) {
        snd_seq_event_t* event = nullptr;
        const int result = snd_seq_event_input(handle, &event);
        if (result == -ENOSPC)
            continue;
        if (result < 0 || !event)
            return;
        if (event->source.client != from.client || event->source.port != from.port)
            continue;
        if (event->type == SND_SEQ_EVENT_SYSEX) {
            heard({ static_cast<const std::uint8_t*>(event->data.ext.ptr), event->data.ext.len });
            continue;
        }
        std::uint8_t bytes[ShortMessage];
        const long size = snd_midi_event_decode(&decoder, bytes, sizeof bytes, event);
        if (size > 0)
            heard({ bytes, static_cast<std::size_t>(size) });
    }
}

// Reads the announcements that wait, without waiting itself. The kernel announces a client's end
// before another client can take its number, so a device swapped at the address is seen as gone
// before anything could go to its successor.
class AnnouncedDepartures final : public Departures {
public:
    explicit AnnouncedDepartures(Handle handle)
        : mHandle(std::move(handle))
    {
    }

    bool ended(Address address) override
    {
        bool ended = false;
        for (;;) {
            snd_seq_event_t* event = nullptr;
            const int result = snd_seq_event_input(mHandle.get(), &event);
            if (result == -ENOSPC) {
                ended = true; // the queue overflowed and was emptied: announcements were lost
                continue;
            }
            if (result < 0 || !event)
                return ended;
            const snd_seq_addr_t& about = event->data.addr;
            ended = ended
                || (event->type == SND_SEQ_EVENT_CLIENT_EXIT && about.client == address.client)
                || (event->type == SND_SEQ_EVENT_PORT_EXIT && about.client == address.client
                    && about.port == address.port);
        }
    }

private:
    Handle mHandle;
};

class KernelSequencer final : public Sequencer {
public:
    KernelSequencer(snd_seq_t* handle, std::string name)
        : mHandle(handle, snd_seq_close)
        , mName(std::move(name))
    {
    }

    int ownClient() const override { return snd_seq_client_id(mHandle.get()); }

    std::vector<PortInfo> ports() override
    {
        std::vector<PortInfo> result;
        ClientRecord client;
        PortRecord port;
        snd_seq_client_info_set_client(client.get(), -1);
        while (snd_seq_query_next_client(mHandle.get(), client.get()) >= 0) {
            snd_seq_port_info_set_client(port.get(), snd_seq_client_info_get_client(client.get()));
            snd_seq_port_info_set_port(port.get(), -1);
            while (snd_seq_query_next_port(mHandle.get(), port.get()) >= 0)
                result.push_back(describe(*client, *port));
        }
        return result;
    }

    std::optional<PortInfo> port(Address address) override
    {
        ClientRecord client;
        PortRecord port;
        if (snd_seq_get_any_client_info(mHandle.get(), address.client, client.get()) < 0
            || snd_seq_get_any_port_info(mHandle.get(), address.client, address.port, port.get())
                < 0)
            return std::nullopt;
        return describe(*client, *port);
    }

    // No capabilities: nobody else can connect our port to anything. Such a connection would
    // carry nothing, since we address each destination ourselves, and it would make our own
    // connection to that destination fail with EBUSY.
    int createPort(const std::string& name) override
    {
        return snd_seq_create_simple_port(mHandle.get(), name.c_str(), 0,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }

    void deletePort(int port) override { snd_seq_delete_simple_port(mHandle.get(), port); }

    int connect(int port, Address destination) override
    {
        return snd_seq_connect_to(mHandle.get(), port, destination.client, destination.port);
    }

    int disconnect(int port, Address destination) override
    {
        return snd_seq_disconnect_to(mHandle.get(), port, destination.client, destination.port);
    }

    std::optional<InputQueue> inputQueue(int client) override
    {
        pollfd descriptor {};
        if (snd_seq_poll_descriptors(mHandle.get(), &descriptor, 1, POLLOUT) != 1)
            return std::nullopt;
        return askInputQueue(descriptor.fd, client);
    }

    int sendSysex(int port, Address destination, std::span<const std::uint8_t> piece) override
    {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, port);
        snd_seq_ev_set_dest(&event, destination.client, destination.port);
        snd_seq_ev_set_direct(&event);
        // libasound only reads the bytes; its signature predates const.
        snd_seq_ev_set_sysex(&event, piece.size(), const_cast<std::uint8_t*>(piece.data()));
        const int result = snd_seq_event_output_direct(mHandle.get(), &event);
        return result < 0 ? result : 0;
    }

    std::vector<Address> senders(Address address) override
    {
        Record<snd_seq_query_subscribe_t, snd_seq_query_subscribe_sizeof> query;
        const snd_seq_addr_t root { static_cast<unsigned char>(address.client),
            static_cast<unsigned char>(address.port) };
        snd_seq_query_subscribe_set_root(query.get(), &root);
        snd_seq_query_subscribe_set_type(query.get(), SND_SEQ_QUERY_SUBS_WRITE);
        std::vector<Address> result;
        for (int index = 0;; ++index) {
            snd_seq_query_subscribe_set_index(query.get(), index);
            if (snd_seq_query_port_subscribers(mHandle.get(), query.get()) < 0)
                return result;
            const snd_seq_addr_t* sender = snd_seq_query_subscribe_get_addr(query.get());
            result.push_back({ sender->client, sender->port });
        }
    }

    morvex::Result<std::unique_ptr<Watch>> watch(std::function<void()> changed) override
    {
        const auto failed = [](const std::string& why) {
            return morvex::Failure { "Devices plugged in later are not seen: " + why + "." };
        };
        morvex::Result<Handle> handle = listenToAnnouncements(mName);
        if (!handle)
            return failed(handle.reason());
        morvex::Result<process::FileDescriptor> stop = stopSignal();
        if (!stop)
            return failed(stop.reason());
        return std::unique_ptr<Watch>(std::make_unique<EventThread>(handle.take(), stop.take(),
            [changed = std::move(changed)](snd_seq_t* events) { tellChanges(events, changed); }));
    }

    morvex::Result<std::unique_ptr<Departures>> departures() override
    {
        morvex::Result<Handle> handle = listenToAnnouncements(mName);
        if (!handle)
            return morvex::Failure { "Morvex cannot hear of devices that go: " + handle.reason()
                + "." };
        return std::unique_ptr<Departures>(std::make_unique<AnnouncedDepartures>(handle.take()));
    }

    // An input client of its own beside the one that sends, so that the reading thread never
    // shares a handle with the sender; its port takes no subscription but its own.
    morvex::Result<std::unique_ptr<Watch>> hear(Address from, Heard heard) override
    {
        const auto failed = [&](const std::string& why) {
            return morvex::Failure { "The ALSA sequencer does not let Morvex listen to "
                + std::to_string(from.client) + ":" + std::to_string(from.port) + ": " + why
                + "." };
        };
        morvex::Result<Handle> handle = openInputClient(mName);
        if (!handle)
            return failed(handle.reason());
        snd_seq_t* input = handle.value().get();
        // Ten times the default queue, about 55 KB: a long reply has room while the thread reads.
        (void)snd_seq_set_client_pool_input(input, 2000);
        const int port = snd_seq_create_simple_port(input, "Morvex Input Port",
            SND_SEQ_PORT_CAP_WRITE, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0)
            return failed(snd_strerror(port));
        if (const int result = snd_seq_connect_from(input, port, from.client, from.port); result < 0)
            return failed(snd_strerror(result));
        snd_midi_event_t* made = nullptr;
        if (const int result = snd_midi_event_new(ShortMessage, &made); result < 0)
            return failed(snd_strerror(result));
        std::shared_ptr<snd_midi_event_t> decoder(made, snd_midi_event_free);
        // Every message with its status byte: a reply is read alone, never after the one before.
        snd_midi_event_no_status(made, 1);
        morvex::Result<process::FileDescriptor> stop = stopSignal();
        if (!stop)
            return failed(stop.reason());
        return std::unique_ptr<Watch>(std::make_unique<EventThread>(handle.take(), stop.take(),
            [from, decoder, heard = std::move(heard)](
                snd_seq_t* events) { passOn(events, from, *decoder, heard); }));
    }

private:
    Handle mHandle;
    const std::string mName; // the client's, which its other clients take too
};

} // namespace

morvex::Result<std::unique_ptr<Sequencer>> openSequencer(const std::string& name)
{
    snd_seq_t* handle = nullptr;
    // Non-blocking: direct events are delivered inside the write anyway, and a full receiver
    // must come back as an error rather than a wait.
    if (const int result = openQuietly(&handle, SND_SEQ_OPEN_OUTPUT); result < 0)
        return morvex::Failure { "The ALSA sequencer cannot be opened: " + openError(result)
            + "." };
    auto sequencer = std::make_unique<KernelSequencer>(handle, name);
    if (const int result = snd_seq_set_client_name(handle, name.c_str()); result < 0)
        return morvex::Failure { "The ALSA sequencer client cannot be named \"" + name
            + "\": " + snd_strerror(result) + "." };
    return std::unique_ptr<Sequencer>(std::move(sequencer));
}

} // namespace midi::alsa
