#include "Process/CommandLine.h"

#include <algorithm>
#include <charconv>

namespace process {

ParsedCommandLine CommandLine::parse(
    std::span<const char* const> arguments, std::span<const Option> options)
{
    CommandLine line;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view word = arguments[i];
        if (optionsEnded || !word.starts_with("-") || word == "-") {
            line.mOperands.emplace_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const std::string_view name = word.substr(0, word.find('='));
        const auto option = std::find_if(options.begin(), options.end(),
            [&](const Option& known) { return known.name == name; });
        if (option == options.end())
            return { std::nullopt, "unknown option \"" + std::string(word) + "\"" };
        std::string value;
        if (name.size() < word.size()) {
            if (!option->takesValue)
                return { std::nullopt, std::string(name) + " takes no value" };
            value = word.substr(name.size() + 1);
        } else if (option->takesValue) {
            if (i + 1 == arguments.size())
                return { std::nullopt, std::string(name) + " needs a value" };
            value = arguments[++i];
        }
        line.mGiven[std::string(name)] = std::move(value);
    }
    return { std::move(line), {} };
}

std::optional<std::string> CommandLine::value(std::string_view name) const
{
    const auto given = mGiven.find(std::string(name));
    if (given == mGiven.end())
        return std::nullopt;
    return given->second;
}

std::optional<std::uint32_t> wholeNumber(std::string_view text)
{
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> decimalNumber(std::string_view text)
{
    const auto digits = std::ranges::count_if(text, [](char c) { return c >= '0' && c <= '9'; });
    const auto points = std::ranges::count(text, '.');
    if (digits == 0 || points > 1 || static_cast<std::size_t>(digits + points) != text.size())
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(
        text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace process
