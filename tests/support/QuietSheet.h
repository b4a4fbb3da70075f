#pragma once

// Header only, without GoogleTest, so that the benchmarks use it too.

#include "Transfer/Transfer.h"

#include <optional>
#include <string>

namespace testsupport {

// A sheet that shows nothing, never agrees to send damaged files or to share the destination, and
// chooses destination.
class QuietSheet : public transfer::Sheet {
public:
    explicit QuietSheet(std::string folder, std::size_t destination = 0)
        : mFolder(std::move(folder))
        , mDestination(destination)
    {
    }

    std::string folderText() override { return mFolder; }
    void setFileText(const std::string&) override { }
    bool sendDamaged(const std::string&) override { return false; }
    bool shareDestination(const std::string&) override { return false; }
    void showStatus(const std::string&) override { }
    void startSending() override { }
    void setProgress(double) override { }
    void setPercentText(const std::string&) override { }
    void showRemaining(const transfer::Remaining&) override { }
    std::optional<std::size_t> selectedDestination() override { return mDestination; }
    void showAlert(const transfer::Outcome&, const std::string&, const std::string&) override { }
    void end() override { }

private:
    std::string mFolder;
    std::size_t mDestination;
};

} // namespace testsupport
