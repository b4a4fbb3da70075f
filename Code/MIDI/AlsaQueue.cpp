// A program's input queue, asked of the sequencer device itself: libasound's call asks only about
// the caller's own client, though the kernel answers for any. Apart from the rest of the backend,
// whose libasound headers clash with the kernel's own.

#include "Alsa.h"

#include <sound/asequencer.h>
#include <sys/ioctl.h>

namespace midi::alsa {

std::optional<InputQueue> askInputQueue(int fd, int client)
{
    snd_seq_client_pool pool {};
    pool.client = client;
    // A kernel client has no input queue: its pool reads 0.
    if (::ioctl(fd, SNDRV_SEQ_IOCTL_GET_CLIENT_POOL, &pool) < 0 || pool.input_pool <= 0)
        return std::nullopt;
    return InputQueue { pool.input_pool, pool.input_pool - pool.input_free };
}

} // namespace midi::alsa
