#include "ui/win32/native_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace orvel::ui {
namespace {

struct Cp932Entry {
  std::uint32_t unicode;
  std::uint32_t code;  // one byte below 0x100, else lead byte << 8 | trail byte
};

#include "cp932_table.inc"

constexpr char32_t kReplacement = 0xFFFD;
constexpr char kUnknown = '?';
constexpr char32_t kAsciiEnd = 0x80;
constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kSurrogateLowFirst = 0xDC00;
constexpr char32_t kSurrogateLast = 0xDFFF;
constexpr char32_t kPlaneEnd = 0x10000;
constexpr char32_t kUnicodeEnd = 0x110000;
constexpr unsigned kSingleByteEnd = 0x100;

// The next code point of a UTF-8 text from `i`, which it advances.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(s[i++]);
  if (lead < kAsciiEnd) return lead;
  int extra = 0;
  char32_t cp = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1Fu;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0Fu;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07u;
  } else {
    return kReplacement;
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return kReplacement;
    cp = cp << 6 | (static_cast<unsigned char>(s[i++]) & 0x3Fu);
  }
  if (cp >= kUnicodeEnd || (cp >= kSurrogateFirst && cp <= kSurrogateLast)) return kReplacement;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < kAsciiEnd) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < kPlaneEnd) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Lead bytes of a two-byte character in code page 932.
bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

}  // namespace

std::wstring Utf16FromUtf8(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = NextCodePoint(utf8, i);
    if (cp < kPlaneEnd) {
      out += static_cast<wchar_t>(cp);
    } else {
      const char32_t v = cp - kPlaneEnd;
      out += static_cast<wchar_t>(kSurrogateFirst + (v >> 10));
      out += static_cast<wchar_t>(kSurrogateLowFirst + (v & 0x3FF));
    }
  }
  return out;
}

std::string Utf8FromUtf16(std::wstring_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    auto cp = static_cast<char32_t>(static_cast<std::uint16_t>(utf16[i]));
    if (cp >= kSurrogateFirst && cp < kSurrogateLowFirst && i + 1 < utf16.size()) {
      const auto low = static_cast<char32_t>(static_cast<std::uint16_t>(utf16[i + 1]));
      if (low >= kSurrogateLowFirst && low <= kSurrogateLast) {
        cp = kPlaneEnd + ((cp - kSurrogateFirst) << 10) + (low - kSurrogateLowFirst);
        ++i;
      } else {
        cp = kReplacement;
      }
    } else if (cp >= kSurrogateFirst && cp <= kSurrogateLast) {
      cp = kReplacement;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::string Cp932FromUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = NextCodePoint(utf8, i);
    if (cp < kAsciiEnd) {
      out += static_cast<char>(cp);
      continue;
    }
    const auto* entry = std::lower_bound(std::begin(kCp932Table), std::end(kCp932Table), cp,
                                         [](const Cp932Entry& e, char32_t v) { return e.unicode < v; });
    if (entry == std::end(kCp932Table) || entry->unicode != cp) {
      out += kUnknown;
    } else if (entry->code < kSingleByteEnd) {
      out += static_cast<char>(entry->code);
    } else {
      out += static_cast<char>(entry->code >> 8);
      out += static_cast<char>(entry->code & 0xFF);
    }
  }
  return out;
}

std::string Utf8FromCp932(std::string_view cp932) {
  std::string out;
  out.reserve(cp932.size());
  for (std::size_t i = 0; i < cp932.size(); ++i) {
    const auto b = static_cast<unsigned char>(cp932[i]);
    if (b < kAsciiEnd) {
      out += static_cast<char>(b);
      continue;
    }
    std::uint32_t code = b;
    if (IsLeadByte(b) && i + 1 < cp932.size()) code = code << 8 | static_cast<unsigned char>(cp932[++i]);
    const auto* entry = std::find_if(std::begin(kCp932Table), std::end(kCp932Table),
                                     [code](const Cp932Entry& e) { return e.code == code; });
    if (entry == std::end(kCp932Table)) {
      out += kUnknown;
    } else {
      AppendUtf8(out, entry->unicode);
    }
  }
  return out;
}

}  // namespace orvel::ui
