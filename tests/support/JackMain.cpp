// The main of the test programs whose JACK tests run on either server. On PipeWire
// (MORVEX_TEST_SERVER=pipewire) the program starts itself again under pw-jack, which puts
// PipeWire's libjack before jack2's for it and for every program it starts, as a user's
// `pw-jack PROGRAM` does. Without pw-jack it goes on as it is, and its JACK tests skip.

#include "support/PipeWire.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    constexpr const char* Restarted = "MORVEX_TEST_ON_PW_JACK";
    if (testsupport::onPipeWire() && !std::getenv(Restarted)
        && testsupport::PipeWireServer::installed()) {
        ::setenv(Restarted, "1", 1);
        std::vector<char*> arguments { const_cast<char*>("pw-jack") };
        arguments.insert(arguments.end(), argv, argv + argc);
        arguments.push_back(nullptr);
        ::execvp("pw-jack", arguments.data());
        std::perror("cannot run pw-jack");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
