#pragma once
// Counts the program's heap allocations while counting is on (the replaced
// global operators are in counting_heap.cpp).

namespace orvel::testing {

// Zeroes the count and starts counting.
void StartCountingAllocations();
// Stops counting; the allocations since the start.
long StopCountingAllocations();

}  // namespace orvel::testing
