// The codec against memcpy of the same 1 MiB, in the same run.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "firmware/codec.h"
#include "firmware/sample_firmware.h"

namespace orvel {
namespace {

// Every block stored: the most work either direction can have.
std::vector<std::uint8_t> FullPackableImage() {
  auto image = MakePlainImage(8, "KZTR5", "bench", 1);
  std::fill(image.begin() + kPackedBodyStart, image.end(), std::uint8_t{0x5A});
  std::fill(image.begin() + kPackedGapStart, image.begin() + kPackedBodyStart, std::uint8_t{0xFF});
  return image;
}

void BM_Memcpy1MiB(benchmark::State& state) {
  std::vector<std::uint8_t> from(kFullImageSize, 1);
  std::vector<std::uint8_t> to(kFullImageSize, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kFullImageSize);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFullImageSize);
}
BENCHMARK(BM_Memcpy1MiB);

void BM_EncodePacked(benchmark::State& state) {
  const auto image = FullPackableImage();
  for (auto _ : state) {
    std::size_t length = 0;
    auto packed = EncodePackedImage(ConstImageSpan(image.data(), kFullImageSize), &length);
    benchmark::DoNotOptimize(packed.get());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFullImageSize);
}
BENCHMARK(BM_EncodePacked);

void BM_DecodePacked(benchmark::State& state) {
  const auto file = EncodeForFamily(8, FullPackableImage());
  for (auto _ : state) {
    auto plain = DecodePackedImage(file);
    benchmark::DoNotOptimize(plain.get());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFullImageSize);
}
BENCHMARK(BM_DecodePacked);

// Without the allocation: the loops alone.
void BM_DecodePackedInto(benchmark::State& state) {
  const auto file = EncodeForFamily(8, FullPackableImage());
  auto image = NewImageBuffer();
  for (auto _ : state) {
    benchmark::DoNotOptimize(DecodePackedImageInto(file, *image));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFullImageSize);
}
BENCHMARK(BM_DecodePackedInto);

void BM_ByteKeyApplyRemove(benchmark::State& state) {
  auto image = MakePlainImage(5, "QDX52", "bench", 1);
  for (auto _ : state) {
    ApplyByteKey(image, 0x8004);
    RemoveByteKey(image, 0x8004);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * kFullImageSize);
}
BENCHMARK(BM_ByteKeyApplyRemove);

}  // namespace
}  // namespace orvel

BENCHMARK_MAIN();
