// One round of bench/jack-exit-stress, or the port churn that runs beside its rounds.
//
//   jack_exit_stress round   opens the JACK output client as the window does (the live device
//                            list on, its port made), sends one message to destination 1 when
//                            there is one, and ends through the ordinary teardown
//   jack_exit_stress churn   registers and unregisters an input port on the running server, over
//                            and over, until SIGTERM or SIGINT
//
// Both take the server JACK_DEFAULT_SERVER names. A round that ends by a signal is what the script
// counts; a round's own failure (no server) ends it with status 1.

#include "MIDI/Midi.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <jack/jack.h>
#include <pthread.h>
#include <string_view>

namespace {

int round()
{
    std::unique_ptr<midi::Client> client = midi::Client::open("Morvex");
    if (!client->problem().empty()) {
        std::fprintf(stderr, "jack_exit_stress: %s\n", client->problem().c_str());
        return 1;
    }
    std::atomic<unsigned> told { 0 };
    client->watchDestinations([&told] { told.fetch_add(1); });
    midi::PortResult port = client->createOutputPort("Morvex Output Port");
    if (!port) {
        std::fprintf(stderr, "jack_exit_stress: %s\n", port.reason().c_str());
        return 1;
    }
    client->refreshDestinations();
    if (!client->destinations().empty()) {
        timing::SteadyClock clock;
        const std::uint8_t message[] = { 0xF0, 0x7D, 0x01, 0xF7 };
        (void)port.value()->send(0, message, clock);
        (void)port.value()->settle();
    }
    // As morvex-send ends: a close the server did not answer in time is not waited for at exit.
    port.value().reset();
    client->close();
    if (client->leftWaiting()) {
        std::fprintf(stderr, "jack_exit_stress: %s\n", client->problem().c_str());
        std::fflush(nullptr);
        std::_Exit(1);
    }
    return 0;
}

int churn()
{
    // Waited for between the steps, so that the churn ends at once and cleanly.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    jack_status_t status {};
    jack_client_t* client = jack_client_open("churn", JackNoStartServer, &status);
    if (!client || jack_activate(client) != 0) {
        std::fprintf(stderr, "jack_exit_stress: no JACK server for the churn\n");
        return 1;
    }
    const timespec pause { 0, 2'000'000 };
    for (;;) {
        jack_port_t* port = jack_port_register(
            client, "coming and going", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (sigtimedwait(&stop, nullptr, &pause) > 0)
            break;
        if (port)
            jack_port_unregister(client, port);
        if (sigtimedwait(&stop, nullptr, &pause) > 0)
            break;
    }
    jack_deactivate(client);
    jack_client_close(client);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string_view command = argc == 2 ? argv[1] : "";
    if (command == "round")
        return round();
    if (command == "churn")
        return churn();
    std::fprintf(stderr, "Usage: jack_exit_stress round|churn\n");
    return 2;
}
