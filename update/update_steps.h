#pragma once
// Internal helpers shared by the update procedure's source files.

#include <cstdint>
#include <string>
#include <string_view>

#include "update/update_host.h"
#include "update/update_procedure.h"

namespace orvel::update_steps {

// `english` or `japanese` as `language` says (1 Japanese, anything else English).
inline std::string Worded(int language, std::string_view english, std::string_view japanese) {
  return std::string(language == 1 ? japanese : english);
}

// A type code in quotes for a detail text, bytes outside printable ASCII as \xNN.
std::string QuotedTypeCode(const TypeCode& code);

// "04/00": the sense codes of the last command, for the attempt's detail text.
std::string SenseText(std::uint8_t asc, std::uint8_t ascq);

// Why the last firmware block read failed: "only 8192 of 16384 bytes arrived"
// when the drive answered short, else "sense 04/00".
std::string ReadFailureText(const ScsiTransport& t, int language);
// Whether the last firmware block read failed by answering short.
bool ReadWasShort(const ScsiTransport& t);

}  // namespace orvel::update_steps
