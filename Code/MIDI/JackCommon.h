#pragma once

// What the JACK output and the JACK input share: the owning client handle and JACK's status in
// words.

#include "Result/Result.h"

#include <cstdint>
#include <jack/jack.h>
#include <memory>
#include <string>

#if defined(__SANITIZE_THREAD__)
#define MORVEX_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MORVEX_TSAN 1
#endif
#endif
#ifdef MORVEX_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace midi::jack {

// JACK hands a port's buffer from the client that writes it to the one that reads it through
// semaphores that each client maps at its own address, so ThreadSanitizer cannot see the
// handover when both clients live in one process (as in the tests). Each process callback marks
// its use of a buffer between these two calls; outside a ThreadSanitizer build they are nothing.
inline void bufferTaken([[maybe_unused]] void* buffer) noexcept
{
#ifdef MORVEX_TSAN
    __tsan_acquire(buffer);
#endif
}

inline void bufferDone([[maybe_unused]] void* buffer) noexcept
{
#ifdef MORVEX_TSAN
    __tsan_release(buffer);
#endif
}

// Frame counts wrap at 2^32 (a day at 48 kHz): they are compared by their difference.
inline std::int32_t framesFrom(jack_nframes_t from, jack_nframes_t to) noexcept
{
    return static_cast<std::int32_t>(to - from);
}

struct ClientCloser {
    void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using ClientHandle = std::unique_ptr<jack_client_t, ClientCloser>;

// Opens name on the server JACK_DEFAULT_SERVER names (else the default one), never starting a
// server; a sentence for a person when none answers. From the first call on, libjack's own
// messages stay off the terminal: what matters of them comes back as part of such sentences.
morvex::Result<ClientHandle> openClient(const std::string& name);

} // namespace midi::jack
