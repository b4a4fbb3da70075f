#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace process {

struct ParsedCommandLine;

// A command line as GNU tools take it: "--name" for a flag; "--name VALUE" or "--name=VALUE" for
// an option that takes a value (given twice, the last one counts); "--" ends the options; "-" and
// anything else that does not start with "-" is an operand. What each option means, and which go
// together, is the program's to judge.
class CommandLine {
public:
    struct Option {
        std::string_view name; // with its leading "--"
        bool takesValue = false;
    };

    // arguments: the command line without the program's name.
    static ParsedCommandLine parse(
        std::span<const char* const> arguments, std::span<const Option> options);

    bool has(std::string_view name) const { return mGiven.contains(std::string(name)); }
    // The value given to name; nothing when it was not given.
    std::optional<std::string> value(std::string_view name) const;
    const std::vector<std::string>& operands() const { return mOperands; }

private:
    std::map<std::string, std::string> mGiven; // a flag's value is empty
    std::vector<std::string> mOperands;
};

struct [[nodiscard]] ParsedCommandLine {
    std::optional<CommandLine> line; // empty when the words cannot be read
    std::string error; // what is wrong, for a person, when line is empty
};

// A decimal whole number that fits 32 bits, digits only; nothing for anything else.
std::optional<std::uint32_t> wholeNumber(std::string_view text);
// A decimal number written with digits and at most one point ("2", "1.5", ".5"), in any locale;
// nothing for anything else (signs, exponents, "inf", "nan", commas).
std::optional<double> decimalNumber(std::string_view text);

} // namespace process
