#include "Monitor/AlsaInput.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <chrono>
#include <thread>

namespace monitor {

namespace {

class AlsaInput final : public midi::Input {
public:
    AlsaInput(snd_seq_t* handle, std::string portName, AlsaInputOptions options)
        : mHandle(handle, snd_seq_close)
        , mPortName(std::move(portName))
        , mOptions(options)
    {
    }

    void setPort(int port) { mPort = port; }

    std::string portName() const override { return mPortName; }
    std::uint64_t lost() const override { return mLost; }

    // To the port's subscribers, in pieces of the size the kernel gives a device's input in. A
    // millisecond between pieces leaves a reader that takes its events at once room in its queue.
    bool answer(std::span<const std::uint8_t> message) override
    {
        if (!mOptions.answers)
            return false;
        constexpr std::size_t Piece = 256;
        for (std::size_t sent = 0; sent < message.size(); sent += Piece) {
            if (sent > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const auto piece = message.subspan(sent, std::min(Piece, message.size() - sent));
            snd_seq_event_t event;
            snd_seq_ev_clear(&event);
            snd_seq_ev_set_source(&event, mPort);
            snd_seq_ev_set_subs(&event);
            snd_seq_ev_set_direct(&event);
            // libasound only reads the bytes; its signature predates const.
            snd_seq_ev_set_sysex(&event, piece.size(), const_cast<std::uint8_t*>(piece.data()));
            if (snd_seq_event_output_direct(mHandle.get(), &event) < 0)
                return false;
        }
        return true;
    }

    // A SysEx arrives in pieces (the kernel cuts hardware input at 256 bytes, senders cut
    // their own): a message is whole at its F7.
    void take(std::vector<midi::Received>& out) override
    {
        snd_seq_event_t* event = nullptr;
        int result;
        while ((result = snd_seq_event_input(mHandle.get(), &event)) >= 0 || result == -ENOSPC) {
            if (result == -ENOSPC) { // our queue overflowed and the sequencer emptied it
                ++mLost;
                mPending.clear();
                continue;
            }
            std::this_thread::sleep_for(mOptions.slow);
            if (event->type != SND_SEQ_EVENT_SYSEX)
                continue;
            const auto* bytes = static_cast<const std::uint8_t*>(event->data.ext.ptr);
            if (mPending.empty())
                mStarted = now();
            mPending.insert(mPending.end(), bytes, bytes + event->data.ext.len);
            if (!mPending.empty() && (mPending.back() == 0xF7 || mPending.front() != 0xF0)) {
                out.push_back({ mStarted, std::move(mPending) });
                mPending.clear();
            }
        }
    }

private:
    static std::uint64_t now()
    {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }

    std::unique_ptr<snd_seq_t, int (*)(snd_seq_t*)> mHandle;
    std::string mPortName;
    std::vector<std::uint8_t> mPending;
    std::uint64_t mStarted = 0;
    std::uint64_t mLost = 0;
    const AlsaInputOptions mOptions;
    int mPort = 0;
};

} // namespace

morvex::Result<std::unique_ptr<midi::Input>> openAlsaInput(
    const std::string& clientName, const std::string& portName, AlsaInputOptions options)
{
    snd_seq_t* handle = nullptr;
    if (const int result = snd_seq_open(&handle, "default",
            options.answers ? SND_SEQ_OPEN_DUPLEX : SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
        result < 0)
        return morvex::Failure { std::string("The ALSA sequencer cannot be opened: ")
            + snd_strerror(result) + "." };
    auto input = std::make_unique<AlsaInput>(handle, portName, options);
    // A bigger input queue than the default 200 cells, so that a fast sender does not overflow it.
    // Best effort: the default queue still works for slower senders.
    if (options.slow.count() == 0)
        (void)snd_seq_set_client_pool_input(handle, 2000);
    const unsigned readable
        = options.answers ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ : 0;
    const int port = snd_seq_create_simple_port(handle, portName.c_str(),
        SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE | readable,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (snd_seq_set_client_name(handle, clientName.c_str()) < 0 || port < 0)
        return morvex::Failure { "Cannot create the ALSA sequencer port \"" + portName + "\"." };
    input->setPort(port);
    return std::unique_ptr<midi::Input>(std::move(input));
}

} // namespace monitor
