#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// A name from outside (a file name, a folder path, a MIDI client or port name) as a person is
// shown it, on a terminal, in a log or in the window: its printable text as it is, in any script,
// and everything that could act instead of being read written out visibly:
//   - control characters (C0 and DEL) as \a \b \t \n \v \f \r \e, the others as \xHH;
//   - C1 control characters (U+0080 to U+009F) as the two bytes that encode them, \xC2\xHH;
//   - each byte that is not part of valid UTF-8 as \xHH;
//   - line and paragraph separators and the marks that reorder text (bidirectional overrides
//     and isolates) as \uHHHH: they could break a line or make one name read as another;
//   - a backslash as \\, so that an escape is never the name's own text.
// Two names are shown alike only when they are the same bytes, and the result is valid UTF-8
// that adds no line, moves no cursor and sets no colour.
std::string printable(std::string_view bytes);

// printable(bytes) between double quotes, for a sentence that names it.
std::string quoted(std::string_view bytes);

// Each of names quoted, joined as a sentence lists them: "A", "A" and "B", "A", "B" and "C".
std::string quotedList(const std::vector<std::string>& names);

// shown cut in the middle to at most size bytes, an ellipsis standing for what was taken out, its
// beginning and end kept; shown itself when it fits. Never splits a UTF-8 sequence. A terminal
// gives no character of UTF-8 text more columns than it has bytes, so the result fits that many
// columns.
std::string cutInTheMiddle(std::string_view shown, std::size_t size);

} // namespace text
