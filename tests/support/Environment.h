#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace testsupport {

// An environment variable set for as long as the object lives, for this process and the programs
// it starts; then what it was before.
class ScopedVariable {
public:
    ScopedVariable(std::string name, const std::string& value)
        : mName(std::move(name))
    {
        if (const char* previous = std::getenv(mName.c_str()))
            mPrevious = previous;
        ::setenv(mName.c_str(), value.c_str(), 1);
    }
    ~ScopedVariable()
    {
        if (mPrevious)
            ::setenv(mName.c_str(), mPrevious->c_str(), 1);
        else
            ::unsetenv(mName.c_str());
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string mName;
    std::optional<std::string> mPrevious;
};

} // namespace testsupport
