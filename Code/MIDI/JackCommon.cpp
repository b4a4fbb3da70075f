#include "JackCommon.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace midi::jack {

namespace {

// libjack writes its errors and notes to the terminal unless told otherwise, from any of its
// threads (the process thread among them) and even from static destructors at exit. Morvex says
// in its own words what went wrong, so the notes are dropped and only the latest error is kept, in
// a fixed buffer that a thread takes only when no other holds it: nothing here waits or allocates.
class LastError {
public:
    static void keep(const char* text) noexcept
    {
        if (mBusy.test_and_set(std::memory_order_acquire))
            return; // another thread is writing or reading: this line is not the one kept
        std::strncpy(mText, text ? text : "", sizeof mText - 1);
        mText[sizeof mText - 1] = '\0';
        mBusy.clear(std::memory_order_release);
    }

    static void drop(const char*) noexcept { }

    // The latest error, then none; empty when another thread holds it.
    static std::string take()
    {
        if (mBusy.test_and_set(std::memory_order_acquire))
            return {};
        std::string text = mText;
        mText[0] = '\0';
        mBusy.clear(std::memory_order_release);
        return text;
    }

private:
    static inline std::atomic_flag mBusy = ATOMIC_FLAG_INIT;
    static inline char mText[256] = {};
};

void quietLibjack()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(LastError::keep);
        jack_set_info_function(LastError::drop);
    });
}

std::string statusText(jack_status_t status)
{
    static const std::pair<int, const char*> Words[] = {
        { JackServerFailed, "no JACK server is running" },
        { JackServerError, "the JACK server failed" },
        { JackVersionError, "the JACK server speaks another protocol version" },
        { JackNameNotUnique, "the name is taken" },
        { JackInvalidOption, "an option was refused" },
        { JackNoSuchClient, "there is no such client" },
        { JackLoadFailure, "a component could not be loaded" },
        { JackInitFailure, "the client could not start" },
        { JackShmFailure, "shared memory could not be reached" },
    };
    std::string text;
    for (const auto& [bit, words] : Words)
        if ((status & bit) != 0)
            text += (text.empty() ? "" : ", ") + std::string(words);
    return text.empty() ? "JACK gave no reason" : text;
}

} // namespace

morvex::Result<ClientHandle> openClient(const std::string& name)
{
    quietLibjack();
    (void)LastError::take(); // a line from an earlier client does not explain this one
    jack_status_t status {};
    ClientHandle client(jack_client_open(name.c_str(), JackNoStartServer, &status));
    if (client)
        return client;
    std::string error = "Cannot open the JACK client \"" + name + "\": " + statusText(status) + ".";
    // With no server the status says all; otherwise libjack's own line may say more.
    if (const std::string said = LastError::take(); !said.empty() && !(status & JackServerFailed))
        error += " JACK said: " + said + ".";
    return morvex::Failure { error };
}

} // namespace midi::jack
