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

template <typename Info, int (*Make)(Info**), void (*Free)(Info*)>
std::unique_ptr<Info, void (*)(Info*)> make()
{
    Info* info = nullptr;
    if (Make(&info) < 0)
        throw std::bad_alloc();
    return { info, Free };
}

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

// A client of its own that listens to the sequencer's announcements on a thread of its own;
// an eventfd tells the thread to end.
class AnnouncementWatch final : public Watch {
public:
    AnnouncementWatch(Handle handle, process::FileDescriptor stop, std::function<void()> changed)
        : mHandle(std::move(handle))
        , mStop(std::move(stop))
        , mChanged(std::move(changed))
        , mThread([this] { run(); })
    {
    }

    ~AnnouncementWatch() override
    {
        const std::uint64_t one = 1;
        // An eventfd takes one 8-byte write at once.
        [[maybe_unused]] const ssize_t written = ::write(mStop.get(), &one, sizeof one);
        mThread.join();
    }

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
            if (::poll(watched.data(), watched.size(), -1) < 0 || watched[0].revents != 0) {
                if (watched[0].revents != 0)
                    return;
                continue;
            }
            bool changed = false;
            snd_seq_event_t* event = nullptr;
            while (snd_seq_event_input(mHandle.get(), &event) >= 0 && event)
                changed = changed
                    || (event->type >= SND_SEQ_EVENT_CLIENT_START
                        && event->type <= SND_SEQ_EVENT_PORT_CHANGE);
            if (changed)
                mChanged();
        }
    }

    Handle mHandle;
    process::FileDescriptor mStop;
    const std::function<void()> mChanged;
    std::thread mThread;
};

// A client of its own, named as ours, with a port of no MIDI type that nobody else sees: it only
// hears the sequencer's announcements. Null with libasound's error in result when it cannot be
// opened.
Handle listenToAnnouncements(int& result)
{
    snd_seq_t* opened = nullptr;
    if (result = openQuietly(&opened, SND_SEQ_OPEN_INPUT); result < 0)
        return { nullptr, snd_seq_close };
    Handle handle(opened, snd_seq_close);
    const int port = snd_seq_create_simple_port(handle.get(), "Announcements",
        SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT, SND_SEQ_PORT_TYPE_APPLICATION);
    result = port < 0 ? port : snd_seq_set_client_name(handle.get(), "Morvex");
    if (result >= 0)
        result = snd_seq_connect_from(
            handle.get(), port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    if (result < 0)
        return { nullptr, snd_seq_close };
    return handle;
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
    explicit KernelSequencer(snd_seq_t* handle)
        : mHandle(handle, snd_seq_close)
    {
    }

    int ownClient() const override { return snd_seq_client_id(mHandle.get()); }

    std::vector<PortInfo> ports() override
    {
        std::vector<PortInfo> result;
        auto client
            = make<snd_seq_client_info_t, snd_seq_client_info_malloc, snd_seq_client_info_free>();
        auto port = make<snd_seq_port_info_t, snd_seq_port_info_malloc, snd_seq_port_info_free>();
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
        auto client
            = make<snd_seq_client_info_t, snd_seq_client_info_malloc, snd_seq_client_info_free>();
        auto port = make<snd_seq_port_info_t, snd_seq_port_info_malloc, snd_seq_port_info_free>();
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
        auto query = make<snd_seq_query_subscribe_t, snd_seq_query_subscribe_malloc,
            snd_seq_query_subscribe_free>();
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

    std::unique_ptr<Watch> watch(std::function<void()> changed, std::string& error) override
    {
        int result = 0;
        Handle handle = listenToAnnouncements(result);
        process::FileDescriptor stop(::eventfd(0, EFD_CLOEXEC));
        if (!handle || !stop.valid()) {
            error = std::string("Devices plugged in later are not seen: ")
                + (!handle ? openError(result) : std::strerror(errno)) + ".";
            return nullptr;
        }
        return std::make_unique<AnnouncementWatch>(
            std::move(handle), std::move(stop), std::move(changed));
    }

    std::unique_ptr<Departures> departures(std::string& error) override
    {
        int result = 0;
        Handle handle = listenToAnnouncements(result);
        if (!handle) {
            error
                = std::string("Morvex cannot hear of devices that go: ") + openError(result) + ".";
            return nullptr;
        }
        return std::make_unique<AnnouncedDepartures>(std::move(handle));
    }

private:
    Handle mHandle;
};

} // namespace

std::unique_ptr<Sequencer> openSequencer(const std::string& name, std::string& error)
{
    snd_seq_t* handle = nullptr;
    // Non-blocking: direct events are delivered inside the write anyway, and a full receiver
    // must come back as an error rather than a wait.
    if (const int result = openQuietly(&handle, SND_SEQ_OPEN_OUTPUT); result < 0) {
        error = std::string("The ALSA sequencer cannot be opened: ") + openError(result) + ".";
        return nullptr;
    }
    auto sequencer = std::make_unique<KernelSequencer>(handle);
    if (const int result = snd_seq_set_client_name(handle, name.c_str()); result < 0) {
        error = "The ALSA sequencer client cannot be named \"" + name
            + "\": " + snd_strerror(result) + ".";
        return nullptr;
    }
    return sequencer;
}

} // namespace midi::alsa
