#pragma once
// Text as the Windows calls take it. The dialog layer speaks UTF-8; the wide
// calls of the NT family take UTF-16; the narrow calls of Windows 95/98/Me
// take the program's texts in code page 932 (Shift-JIS), as the program
// always carried them. The code page 932 table is made at build time from
// the string literals of the program's texts (tools/winres), so the
// conversion needs no code page support from the system. Pure C++: no
// <windows.h> here.

#include <string>
#include <string_view>

namespace orvel::ui {

// UTF-8 to UTF-16 and back. A malformed sequence becomes U+FFFD.
std::wstring Utf16FromUtf8(std::string_view utf8);
std::string Utf8FromUtf16(std::wstring_view utf16);

// UTF-8 to code page 932 and back. A character outside the table (none of
// the program's own texts) becomes '?'.
std::string Cp932FromUtf8(std::string_view utf8);
std::string Utf8FromCp932(std::string_view cp932);

}  // namespace orvel::ui
