#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or code points past
// Unicode).
bool isValidUtf8(std::string_view text);

// The text converted from the charset (an iconv name: GB18030, GBK, BIG5, …) to UTF-8.
// nullopt when the charset is unknown, or when the text is not valid in it and lenient is
// false; a lenient conversion puts U+FFFD for each byte it cannot read and goes on.
std::optional<std::string> toUtf8(std::string_view text, const char* charset, bool lenient = false);

} // namespace ostrel
