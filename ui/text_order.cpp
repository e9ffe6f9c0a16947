#include "ui/text_order.h"

#include <algorithm>
#include <cstddef>

namespace orvel::ui {

namespace {

constexpr unsigned char kContinuationMask = 0xC0;
constexpr unsigned char kContinuationBits = 0x80;
constexpr int kCheckIndeterminate = 2;

unsigned char FoldCase(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 'A' && u <= 'Z') {
    return static_cast<unsigned char>(u - 'A' + 'a');
  }
  return u;
}

bool IsContinuation(char c) {
  return (static_cast<unsigned char>(c) & kContinuationMask) == kContinuationBits;
}

}  // namespace

int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char ca = FoldCase(a[i]);
    const unsigned char cb = FoldCase(b[i]);
    if (ca != cb) {
      return ca < cb ? -1 : 1;
    }
  }
  if (a.size() == b.size()) {
    return 0;
  }
  return a.size() < b.size() ? -1 : 1;
}

int SortedInsertIndex(const std::vector<std::string>& items, std::string_view item) {
  const auto it = std::upper_bound(items.begin(), items.end(), item, [](std::string_view value, const std::string& e) {
    return CompareNoCase(value, e) < 0;
  });
  return static_cast<int>(it - items.begin());
}

int CountCharacters(std::string_view text) {
  int count = 0;
  for (const char c : text) {
    if (!IsContinuation(c)) {
      ++count;
    }
  }
  return count;
}

std::string_view FirstCharacters(std::string_view text, int chars) {
  if (chars <= 0) {
    return text.substr(0, 0);
  }
  int seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsContinuation(text[i])) {
      if (seen == chars) {
        return text.substr(0, i);
      }
      ++seen;
    }
  }
  return text;
}

int NormalizeCheckState(int state) {
  return (state >= 0 && state <= kCheckIndeterminate) ? state : 0;
}

}  // namespace orvel::ui
