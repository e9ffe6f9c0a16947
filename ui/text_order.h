#pragma once
// Ordering and counting rules shared by the window-system backends.

#include <string>
#include <string_view>
#include <vector>

namespace orvel::ui {

// Compares two UTF-8 texts without regard to ASCII letter case; bytes from
// 0x80 up compare by value. Negative, zero or positive like strcmp.
int CompareNoCase(std::string_view a, std::string_view b);

// Where a sorted list puts `item`: after every item that does not order after it.
int SortedInsertIndex(const std::vector<std::string>& items, std::string_view item);

// Number of characters (code points) of a UTF-8 text.
int CountCharacters(std::string_view text);

// The first `chars` characters of a UTF-8 text.
std::string_view FirstCharacters(std::string_view text, int chars);

// A check state as a button holds it: 0, 1 or 2; anything else is 0.
int NormalizeCheckState(int state);

}  // namespace orvel::ui
