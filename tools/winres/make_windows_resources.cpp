// Run by the Windows build on the build machine (compiled with the host's
// compiler, see ui/win32/CMakeLists.txt):
//
//   make_windows_resources --pictures DIR
//     writes DIR/orvel.ico (icon 128, 32 x 32, 16 colours, index 0 transparent)
//     and DIR/logo133.bmp, DIR/logo136.bmp (111 x 28, 16 colours) from the
//     artwork the other backends draw (resources/artwork_data.inc);
//
//   make_windows_resources --cp932 OUT.inc SOURCE...
//     writes the code page 932 (Shift-JIS) code of every character beyond
//     ASCII in the string literals of the SOURCE files, for the narrow calls
//     of Windows 95/98/Me. A character that code page 932 lacks is an error.

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kPaletteSize = 16;

struct ArtworkData {
  int width;
  int height;
  std::array<std::uint32_t, kPaletteSize> palette;
  std::string_view indices;
};

#include "resources/artwork_data.inc"

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

int Index(const ArtworkData& art, int x, int y) {
  const char c = art.indices[static_cast<std::size_t>(y * art.width + x)];
  return c <= '9' ? c - '0' : c - 'a' + 10;
}

constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kBitsPerPixel = 4;

// A BITMAPINFOHEADER, the 16-entry palette and the 4-bit rows, bottom up.
// `heightField` is twice the height for an icon (colour rows and mask rows).
Bytes Dib(const ArtworkData& art, std::uint32_t heightField) {
  const std::uint32_t rowBytes = (static_cast<std::uint32_t>(art.width) * kBitsPerPixel + 31) / 32 * 4;
  Bytes b;
  Put32(b, kInfoHeaderSize);
  Put32(b, static_cast<std::uint32_t>(art.width));
  Put32(b, heightField);
  Put16(b, 1);  // planes
  Put16(b, kBitsPerPixel);
  Put32(b, 0);  // BI_RGB
  Put32(b, rowBytes * static_cast<std::uint32_t>(art.height));
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, kPaletteSize);
  Put32(b, 0);
  for (const std::uint32_t argb : art.palette) {
    b.push_back(static_cast<std::uint8_t>(argb));        // blue
    b.push_back(static_cast<std::uint8_t>(argb >> 8));   // green
    b.push_back(static_cast<std::uint8_t>(argb >> 16));  // red
    b.push_back(0);
  }
  for (int y = art.height - 1; y >= 0; --y) {
    Bytes row(rowBytes, 0);
    for (int x = 0; x < art.width; ++x) {
      const auto v = static_cast<std::uint8_t>(Index(art, x, y));
      row[static_cast<std::size_t>(x / 2)] |= (x % 2 == 0) ? static_cast<std::uint8_t>(v << 4) : v;
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

Bytes BitmapFile(const ArtworkData& art) {
  const Bytes dib = Dib(art, static_cast<std::uint32_t>(art.height));
  constexpr std::uint32_t kFileHeaderSize = 14;
  Bytes b{'B', 'M'};
  Put32(b, kFileHeaderSize + static_cast<std::uint32_t>(dib.size()));
  Put32(b, 0);
  Put32(b, kFileHeaderSize + kInfoHeaderSize + kPaletteSize * 4);
  b.insert(b.end(), dib.begin(), dib.end());
  return b;
}

// One image; palette index 0 is transparent (set in the AND mask, black in the colours).
Bytes IconFile(const ArtworkData& art) {
  Bytes image = Dib(art, static_cast<std::uint32_t>(art.height) * 2);
  const std::uint32_t maskRow = (static_cast<std::uint32_t>(art.width) + 31) / 32 * 4;
  for (int y = art.height - 1; y >= 0; --y) {
    Bytes row(maskRow, 0);
    for (int x = 0; x < art.width; ++x) {
      if (Index(art, x, y) == 0) row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    image.insert(image.end(), row.begin(), row.end());
  }
  constexpr std::uint32_t kDirectorySize = 6 + 16;
  Bytes b;
  Put16(b, 0);
  Put16(b, 1);  // an icon
  Put16(b, 1);  // one image
  b.push_back(static_cast<std::uint8_t>(art.width));
  b.push_back(static_cast<std::uint8_t>(art.height));
  b.push_back(kPaletteSize);
  b.push_back(0);
  Put16(b, 1);
  Put16(b, kBitsPerPixel);
  Put32(b, static_cast<std::uint32_t>(image.size()));
  Put32(b, kDirectorySize);
  b.insert(b.end(), image.begin(), image.end());
  return b;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

int WritePictures(const std::string& dir) {
  const bool ok = WriteFile(dir + "/orvel.ico", IconFile(kIconArtwork)) &&
                  WriteFile(dir + "/logo133.bmp", BitmapFile(kOrvelLogoArtwork)) &&
                  WriteFile(dir + "/logo136.bmp", BitmapFile(kOrvelinLogoArtwork));
  if (!ok) std::fprintf(stderr, "make_windows_resources: cannot write into %s\n", dir.c_str());
  return ok ? 0 : 1;
}

// The characters beyond ASCII inside the string literals of a C++ source.
void CollectLiteralCharacters(const std::string& text, std::set<std::string>* found) {
  enum class State { Code, LineComment, BlockComment, String, Char } state = State::Code;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    switch (state) {
      case State::Code:
        if (c == '/' && next == '/') state = State::LineComment;
        else if (c == '/' && next == '*') state = State::BlockComment;
        else if (c == '"') state = State::String;
        else if (c == '\'') state = State::Char;
        break;
      case State::LineComment:
        if (c == '\n') state = State::Code;
        break;
      case State::BlockComment:
        if (c == '*' && next == '/') {
          state = State::Code;
          ++i;
        }
        break;
      case State::String:
      case State::Char:
        if (c == '\\') {
          ++i;
        } else if ((state == State::String && c == '"') || (state == State::Char && c == '\'')) {
          state = State::Code;
        } else if ((static_cast<unsigned char>(c) & 0xC0) == 0xC0) {
          std::size_t length = 1;
          while (i + length < text.size() && (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80) ++length;
          found->insert(text.substr(i, length));
          i += length - 1;
        }
        break;
    }
  }
}

std::uint32_t CodePoint(const std::string& utf8) {
  const auto lead = static_cast<unsigned char>(utf8[0]);
  std::uint32_t cp = utf8.size() == 2 ? lead & 0x1Fu : utf8.size() == 3 ? lead & 0x0Fu : lead & 0x07u;
  for (std::size_t i = 1; i < utf8.size(); ++i) cp = cp << 6 | (static_cast<unsigned char>(utf8[i]) & 0x3Fu);
  return cp;
}

int WriteCp932Table(const std::string& out, const std::vector<std::string>& sources) {
  std::set<std::string> characters;
  for (const std::string& path : sources) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "make_windows_resources: cannot read %s\n", path.c_str());
      return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CollectLiteralCharacters(text, &characters);
  }
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    std::fprintf(stderr, "make_windows_resources: this system's iconv has no CP932\n");
    return 1;
  }
  std::map<std::uint32_t, std::uint32_t> table;
  int missing = 0;
  for (const std::string& ch : characters) {
    std::string in = ch;
    std::array<char, 8> buffer{};
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0) {
      std::fprintf(stderr, "make_windows_resources: \"%s\" (U+%04X) has no code in code page 932\n", ch.c_str(),
                   CodePoint(ch));
      ++missing;
      continue;
    }
    std::uint32_t code = 0;
    for (char* p = buffer.data(); p < outPtr; ++p) code = code << 8 | static_cast<unsigned char>(*p);
    table[CodePoint(ch)] = code;
  }
  iconv_close(cd);
  if (missing != 0) return 1;
  std::ostringstream text;
  text << "// Generated by tools/winres/make_windows_resources.cpp from the string literals of\n"
          "// the program's texts: each character beyond ASCII with its code page 932 code\n"
          "// (one byte below 0x100, else lead and trail byte), sorted by character.\n";
  text << "inline constexpr Cp932Entry kCp932Table[] = {\n";
  for (const auto& [cp, code] : table) {
    char line[64];
    std::snprintf(line, sizeof line, "    {0x%04Xu, 0x%04Xu},\n", cp, code);
    text << line;
  }
  text << "};\n";
  std::ofstream file(out, std::ios::binary);
  file << text.str();
  if (!file) {
    std::fprintf(stderr, "make_windows_resources: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "--pictures") return WritePictures(args[1]);
  if (args.size() >= 3 && args[0] == "--cp932") {
    return WriteCp932Table(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
  }
  std::fprintf(stderr, "usage: make_windows_resources --pictures DIR | --cp932 OUT.inc SOURCE...\n");
  return 2;
}
