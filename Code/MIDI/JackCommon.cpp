#include "JackCommon.h"

#include <utility>
#include <vector>

namespace midi::jack {

namespace {

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

ClientHandle openClient(const std::string& name, std::string& error)
{
    jack_status_t status {};
    ClientHandle client(jack_client_open(name.c_str(), JackNoStartServer, &status));
    if (!client)
        error = "Cannot open the JACK client \"" + name + "\": " + statusText(status) + ".";
    return client;
}

std::string takeString(char* text)
{
    std::string result = text ? text : "";
    jack_free(text);
    return result;
}

} // namespace midi::jack
