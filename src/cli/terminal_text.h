#pragma once
#include <ostream>
#include <string>
#include <string_view>

namespace loadwing::cli {

// text as it may go to a terminal. Paths, set files and a machine's answers can hold any byte,
// and a control character (an escape sequence, a carriage return, a C1 control) must not reach
// the terminal as such. Valid UTF-8 stays as it is ("Пример/März.mot"); C0 and C1 controls,
// DEL and every byte that is not part of valid UTF-8 are shown as \xNN, one escape per byte.
[[nodiscard]] std::string TerminalText(std::string_view text);

// One message on err: "loadwing: " and text made safe for the terminal, on a line of its own.
void Say(std::ostream& err, std::string_view text);

}  // namespace loadwing::cli
