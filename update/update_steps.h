#pragma once
// Internal helpers shared by the update procedure's source files.

#include <cstdint>
#include <string>

#include "update/update_host.h"
#include "update/update_procedure.h"

namespace orvel::update_steps {

// Sets the member and moves the bar; the bar clamps at its range like the
// native control does, while the member keeps counting as the sequence says.
inline void MoveBar(UpdateHost& host, int& progressPos, int position) {
  progressPos = position;
  host.SetProgress(position < 0 ? 0 : (position > kProgressMax ? kProgressMax : position));
}

// "04/00": the sense codes of the last command, for the attempt's detail text.
std::string SenseText(std::uint8_t asc, std::uint8_t ascq);

// Why the last firmware block read failed: "only 8192 of 16384 bytes arrived"
// when the drive answered short, else "sense 04/00".
std::string ReadFailureText(const ScsiTransport& t);

}  // namespace orvel::update_steps
