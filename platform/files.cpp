// The operating-system neutral part of the file interface.

#include "platform/files.h"

#include <cstddef>

namespace orvel {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

const char* FileErrorText(FileError e) {
  switch (e) {
    case FileError::None:
      return "no error";
    case FileError::NotFound:
      return "file not found";
    case FileError::AccessDenied:
      return "permission denied";
    case FileError::NotRegular:
      return "not a regular file";
    case FileError::Exists:
      return "file already exists";
    case FileError::NoSpace:
      return "disk full";
    case FileError::Io:
      return "input/output error";
    case FileError::ReadOnly:
      return "read-only file system";
  }
  return "unknown file error";
}

const char* FileErrorText(FileError e, int language) {
  if (language != 1) return FileErrorText(e);
  switch (e) {
    case FileError::None:
      return "エラーはありません";
    case FileError::NotFound:
      return "ファイルが見つかりません";
    case FileError::AccessDenied:
      return "アクセスが許可されていません";
    case FileError::NotRegular:
      return "通常のファイルではありません";
    case FileError::Exists:
      return "ファイルが既に存在します";
    case FileError::NoSpace:
      return "ディスクの空き容量がありません";
    case FileError::Io:
      return "入出力エラーが発生しました";
    case FileError::ReadOnly:
      return "読み取り専用のファイルシステムです";
  }
  return "不明なファイルエラーです";
}

bool MatchesPattern(std::string_view name, std::string_view pattern) {
  // Greedy wildcard match with one backtrack point for the last '*'.
  std::size_t n = 0;
  std::size_t p = 0;
  std::size_t starP = std::string_view::npos;
  std::size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace orvel
