#pragma once

#include <string>
#include <utility>
#include <variant>

namespace morvex {

// Why a call failed, as a sentence for a person: what failed, on what, and why.
struct Failure {
    std::string reason;
};

// What a call that can fail gives back: its value, or the sentence that says why there is none.
// The one way Morvex reports a failure across a function boundary; no call answers through an
// out-parameter or lets an exception out of its library.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value)
        : mState(std::in_place_index<0>, std::move(value))
    {
    }
    Result(Failure failure)
        : mState(std::in_place_index<1>, std::move(failure))
    {
    }

    bool ok() const { return mState.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T& value() { return std::get<0>(mState); }
    const T& value() const { return std::get<0>(mState); }
    T take() { return std::move(std::get<0>(mState)); }

    // Only when !ok().
    const std::string& reason() const { return std::get<1>(mState).reason; }

private:
    std::variant<T, Failure> mState;
};

}
