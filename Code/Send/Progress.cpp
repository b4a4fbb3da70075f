#include "Send/Progress.h"

#include "Text/Duration.h"
#include "Text/Printable.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace send {
namespace {

// A wait this long gets a line of its own when there is no terminal line to watch: without one
// a log would look as if the update had hung.
constexpr std::uint32_t Time_NotedWait = 1000000;

// A file name on the terminal line keeps at least this many bytes, cut in the middle, so that it
// can still be told from the others; on a terminal too narrow for that the line's end is cut.
constexpr std::size_t Int_ShortestName = 16;

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

Progress::Progress(std::FILE* out, std::FILE* err, Setting setting)
    : mOut(out)
    , mErr(err)
    , mSetting(std::move(setting))
{
}

void Progress::startSending()
{
    mSending = true;
    if (mSetting.sendPass)
        mSetting.sendPass->store(true);
}

void Progress::setFileText(const std::string& name)
{
    if (!mSending)
        return;
    mFile = text::printable(name);
    ++mFilesTaken;
    if (!mSetting.terminal)
        show("Sending " + mFile + " (file " + std::to_string(mFilesTaken) + " of "
            + std::to_string(mSetting.files) + ")");
}

bool Progress::sendDamaged(const std::string& reasons)
{
    std::fprintf(mErr, "%s\n%s\n",
        mSetting.sendDamaged
            ? "These files are damaged; sending what can be read of them, as --send-damaged asks:"
            : "Nothing was sent: these files are damaged (--send-damaged sends the update all the "
              "same):",
        reasons.c_str());
    return mSetting.sendDamaged;
}

bool Progress::shareDestination(const std::string& senders)
{
    std::fprintf(mErr, "%s%s\n", mSetting.shareDestination ? "" : "Nothing was sent: ",
        (senders
            + (mSetting.shareDestination ? " Sending all the same, as --share-destination asks."
                                         : " (--share-destination sends the update all the same)"))
            .c_str());
    return mSetting.shareDestination;
}

void Progress::showRemaining(const transfer::Remaining& remaining)
{
    const std::string left = text::duration(remaining.microseconds, text::DurationStyle::Clock) + " left";
    if (mSetting.terminal) {
        if (mFilesTaken == 0)
            return;
        // A long name is cut in the middle to leave room for the figures, which say how far the
        // update is; the dry run and the end report show it whole.
        // Appended to a string that holds the "[", not put in front of a number's: GCC 12 takes
        // that insert at 0 for an overlapping copy and warns at -O3 (-Wrestrict).
        std::string before = "[";
        before += std::to_string(mFilesTaken) + "/" + std::to_string(mSetting.files) + "] ";
        const std::string after = "  " + std::to_string(mPercent) + " %, "
            + std::to_string(remaining.bytesSent) + " of " + std::to_string(remaining.bytesTotal)
            + " bytes, " + left;
        const std::size_t width = columns(mOut);
        const std::size_t fixed = before.size() + after.size() + 1; // and the cursor's column
        show(before
            + (width == 0 ? mFile
                          : text::cutInTheMiddle(mFile,
                              width > fixed + Int_ShortestName ? width - fixed : Int_ShortestName))
            + after);
        return;
    }
    // Written before the wait begins and after the transfer's last cancel check before it: once
    // this line is out, the message after the wait goes out even if Ctrl-C comes now.
    if (remaining.waiting >= Time_NotedWait)
        show("Waiting " + text::duration(remaining.waiting, text::DurationStyle::Exact) + ", " + left);
    // The bar's 0 before the first file is the window's, not news for a log.
    if (remaining.waiting == 0 && mFilesTaken > 0 && mPercent != mPercentShown) {
        mPercentShown = mPercent;
        show(std::to_string(mPercent) + " %, " + std::to_string(remaining.bytesSent) + " of "
            + std::to_string(remaining.bytesTotal) + " bytes, " + left);
    }
}

// Once messages go out, a status says that the device holds the update, or lets it go on.
void Progress::showStatus(const std::string& text)
{
    if (mSending)
        show(text);
}

// What the device said comes last, to the same stream as the title.
void Progress::showAlert(
    const transfer::Outcome& outcome, const std::string& message, const std::string& heard)
{
    endLine();
    std::FILE* to = outcome.end == transfer::Outcome::End::Completed ? mOut : mErr;
    std::fprintf(to, "%s\n%s%s", transfer::alertTitle(outcome), message.empty() ? "" : (message + "\n").c_str(),
        heard.empty() ? "" : (heard + "\n").c_str());
    std::fflush(to);
}

void Progress::show(const std::string& text)
{
    if (mSetting.terminal) {
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

std::string slowerText(double slower)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g\u00D7 slower", slower);
    return text;
}

} // namespace send
