#pragma once

#include "MIDI/Midi.h"
#include "Transfer/Clock.h"
#include "Transfer/Sheet.h"

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace transferfakes {

// Writes every call down as a line, so that a test compares the whole order at once. The hook
// sees each line as it is written, to cancel or change files at a chosen moment.
class RecordingSheet : public transfer::Sheet {
public:
    std::string folder;
    int device = 2;
    std::vector<std::string> log;
    std::function<void(const std::string&)> hook;

    std::string folderText() override
    {
        note("folder");
        return folder;
    }
    void setFileText(const std::string& name) override { note("file " + name); }
    void showStatus(const std::string& text) override { note("status " + text); }
    void stopAnimation() override { note("stop"); }
    void setDeterminate() override { note("determinate"); }
    void setProgress(double percent) override
    {
        char text[32];
        std::snprintf(text, sizeof text, "bar %g", percent);
        note(text);
    }
    void setPercentText(const std::string& text) override { note("percent " + text); }
    int selectedDeviceIndex() override
    {
        note("device");
        return device;
    }
    void showAlert(const std::string& title, const std::string& message) override
    {
        note("alert " + title + " | " + message);
    }
    void end() override { note("end"); }

private:
    void note(const std::string& line)
    {
        log.push_back(line);
        if (hook)
            hook(line);
    }
};

// Records each message it is given; the sends whose number (from 0) is in failing fail, those in
// uncertain are recorded but reported as possibly lost.
class RecordingPort : public midi::OutputPort {
public:
    struct Sent {
        std::size_t destination;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Sent> sent;
    std::set<std::size_t> failing;
    std::set<std::size_t> uncertain;
    std::function<void()> hook;

    midi::SendResult send(std::size_t destination, std::span<const std::uint8_t> message) override
    {
        const std::size_t call = mCalls++;
        if (hook)
            hook();
        if (failing.count(call) > 0)
            return { midi::SendError::DestinationGone, 0, "The destination closed." };
        sent.push_back({ destination, { message.begin(), message.end() } });
        if (uncertain.count(call) > 0)
            return { midi::SendError::Uncertain, static_cast<std::uint32_t>(message.size()),
                "The server missed a deadline." };
        return {};
    }

private:
    std::size_t mCalls = 0;
};

} // namespace transferfakes
