#include "Send/Progress.h"

#include <numeric>
#include <sys/ioctl.h>
#include <unistd.h>

namespace send {
namespace {

// A wait this long gets a line of its own when there is no terminal line to watch: without one
// a log would look as if the update had hung.
constexpr std::uint32_t Time_NotedWait = 1000000;

// Rounded up, so that the display never says 0:00 while a wait is still ahead.
std::string clockTime(std::uint64_t microseconds)
{
    const std::uint64_t seconds = (microseconds + 999999) / 1000000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
            static_cast<unsigned long long>(seconds / 3600),
            static_cast<unsigned long long>(seconds / 60 % 60),
            static_cast<unsigned long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%llu:%02llu",
            static_cast<unsigned long long>(seconds / 60),
            static_cast<unsigned long long>(seconds % 60));
    return text;
}

// The terminal's width in columns, or 0 when it does not say.
std::size_t columns(std::FILE* terminal)
{
    winsize size {};
    return ::ioctl(::fileno(terminal), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

// Cut to fit the line so that \r can take it back; never in the middle of a UTF-8 sequence.
std::string fitted(std::string text, std::size_t width)
{
    if (width == 0 || text.size() < width)
        return text;
    std::size_t end = width - 1;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

} // namespace

Progress::Progress(std::FILE* out, std::FILE* err, bool terminal, std::string folder,
    std::size_t destination, const Schedule& schedule, timing::Clock& clock, midi::OutputPort& port)
    : mOut(out)
    , mErr(err)
    , mTerminal(terminal)
    , mFolder(std::move(folder))
    , mDestination(destination)
    , mSchedule(schedule)
    , mClock(clock)
    , mPort(port)
{
}

void Progress::setFileText(const std::string& name)
{
    if (!mSending)
        return;
    mFile = name;
    ++mFilesTaken;
    if (mTerminal)
        setProgress(std::max(mPercent, 0));
    else
        show("Sending " + name + " (file " + std::to_string(mFilesTaken) + " of "
            + std::to_string(mSchedule.files().size()) + "), " + timeLeft());
}

void Progress::setProgress(double percent)
{
    const int whole = static_cast<int>(percent);
    // The bar's reset to 0 before the first file is the window's, not news for a log.
    if (mFilesTaken == 0 || (!mTerminal && whole == mPercent))
        return;
    mPercent = whole;
    const std::uint64_t total
        = std::accumulate(mSchedule.files().begin(), mSchedule.files().end(), std::uint64_t { 0 },
            [](std::uint64_t sum, const Schedule::File& file) { return sum + file.bytes; });
    const std::string figures = std::to_string(whole) + " %, " + std::to_string(mBytes) + " of "
        + std::to_string(total) + " bytes, " + timeLeft();
    show(mTerminal ? "[" + std::to_string(mFilesTaken) + "/"
                + std::to_string(mSchedule.files().size()) + "] " + mFile + "  " + figures
                   : figures);
}

void Progress::showAlert(const std::string& title, const std::string& message)
{
    endLine();
    if (message.empty()) {
        std::fprintf(mOut, "%s\n", title.c_str());
        std::fflush(mOut);
    } else {
        std::fprintf(mErr, "%s\n%s\n", title.c_str(), message.c_str());
    }
}

bool Progress::sleepUntil(TimePoint when)
{
    ++mWaitsBegun;
    // Written before the wait begins and after the transfer's last cancel check before it: once
    // this line is out, the message after the wait goes out even if Ctrl-C comes now.
    const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(when - now()).count();
    if (!mTerminal && wait >= Time_NotedWait)
        show("Waiting " + secondsText(static_cast<std::uint64_t>(wait)));
    return mClock.sleepUntil(when);
}

midi::SendResult Progress::send(
    std::size_t destination, std::span<const std::uint8_t> message, timing::Clock& clock)
{
    midi::SendResult result = mPort.send(destination, message, clock);
    // An uncertain send was handed over whole; the transfer names its file at the end.
    if (result.ok() || result.error == midi::SendError::Uncertain)
        mBytes += message.size();
    return result;
}

void Progress::show(const std::string& text)
{
    if (mTerminal) {
        std::fprintf(mOut, "\r\x1b[K%s", fitted(text, columns(mOut)).c_str());
        mLineUp = true;
    } else {
        std::fprintf(mOut, "%s\n", text.c_str());
    }
    std::fflush(mOut);
}

void Progress::endLine()
{
    if (mLineUp)
        std::fputc('\n', mOut);
    mLineUp = false;
    std::fflush(mOut);
}

std::string Progress::timeLeft() const
{
    return clockTime(mSchedule.microsecondsLeft(mWaitsBegun)) + " left";
}

} // namespace send
