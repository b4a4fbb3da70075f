#include "Monitor/AlsaInput.h"

#include <alsa/asoundlib.h>
#include <chrono>
#include <thread>

namespace monitor {

namespace {

class AlsaInput final : public midi::Input {
public:
    AlsaInput(snd_seq_t* handle, std::string portName, std::chrono::milliseconds slow)
        : mHandle(handle, snd_seq_close)
        , mPortName(std::move(portName))
        , mSlow(slow)
    {
    }

    std::string portName() const override { return mPortName; }
    std::uint64_t lost() const override { return mLost; }
    // The sequencer's port takes messages only.
    bool answer(std::span<const std::uint8_t>) override { return false; }

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
            std::this_thread::sleep_for(mSlow);
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
    const std::chrono::milliseconds mSlow; // over every event
};

} // namespace

std::unique_ptr<midi::Input> openAlsaInput(const std::string& clientName,
    const std::string& portName, std::chrono::milliseconds slow, std::string& error)
{
    snd_seq_t* handle = nullptr;
    if (const int result = snd_seq_open(&handle, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
        result < 0) {
        error = std::string("The ALSA sequencer cannot be opened: ") + snd_strerror(result) + ".";
        return nullptr;
    }
    auto input = std::make_unique<AlsaInput>(handle, portName, slow);
    // A bigger input queue than the default 200 cells, so that a fast sender does not overflow it.
    // Best effort: the default queue still works for slower senders.
    if (slow.count() == 0)
        (void)snd_seq_set_client_pool_input(handle, 2000);
    const int port = snd_seq_create_simple_port(handle, portName.c_str(),
        SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (snd_seq_set_client_name(handle, clientName.c_str()) < 0 || port < 0) {
        error = "Cannot create the ALSA sequencer port \"" + portName + "\".";
        return nullptr;
    }
    return input;
}

} // namespace monitor
