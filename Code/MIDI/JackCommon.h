#pragma once

// What the JACK output and the JACK input share: the owning client handle and JACK's status in
// words.

#include <jack/jack.h>
#include <memory>
#include <string>

namespace midi::jack {

struct ClientCloser {
    void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using ClientHandle = std::unique_ptr<jack_client_t, ClientCloser>;

// Opens name on the server JACK_DEFAULT_SERVER names (else the default one), never starting a
// server; null, with a sentence in error, when none answers.
ClientHandle openClient(const std::string& name, std::string& error);

// Copies a string JACK allocated for the caller (empty for null) and frees it.
std::string takeString(char* text);

} // namespace midi::jack
