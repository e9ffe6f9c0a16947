#pragma once
// The steering exports of the test WNASPI32.DLL (tests/win32/test_wnaspi32.cpp).

#include <cstdint>

namespace orvel::test_aspi {

// How SendASPI32Command finishes a request.
inline constexpr int kCompleteSynchronously = 0;  // before it returns
inline constexpr int kCompleteLater = 1;          // from another thread, then signals the event
inline constexpr int kNeverComplete = 2;          // holds it until OrvelAspiRelease

// OrvelAspiConfigure(mode, GetASPI32SupportInfo's answer, final status forced on every request or 0)
using Configure = void(__cdecl*)(int, std::uint32_t, std::uint8_t);
// OrvelAspiRequests(): requests that reached SendASPI32Command so far.
using Requests = long(__cdecl*)();
// OrvelAspiRelease(): finishes a held request; 1 when there was one.
using Release = int(__cdecl*)();

}  // namespace orvel::test_aspi
