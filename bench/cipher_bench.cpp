// The session cipher on a full-size datagram, keyed as after a key exchange.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "cipher/session_cipher.h"

namespace tessard {
namespace {

constexpr std::uint32_t kDatagramBytes = 520;

SessionCipher& KeyedCipher() {
  static SessionCipher* cipher = [] {
    auto* keyed = new SessionCipher();
    keyed->clientKey = keyed->GenerateKey(1234);
    keyed->SetServerKey(0x1234ABCD);
    return keyed;
  }();
  return *cipher;
}

std::vector<std::uint8_t> Datagram() {
  std::vector<std::uint8_t> bytes(kDatagramBytes);
  for (std::uint32_t i = 0; i < kDatagramBytes; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  bytes[0] = 0x00;
  bytes[1] = 0x03;
  return bytes;
}

void BM_Encrypt520(benchmark::State& state) {
  const SessionCipher& cipher = KeyedCipher();
  std::vector<std::uint8_t> bytes = Datagram();
  for (auto _ : state) {
    cipher.Encrypt(bytes.data(), kDatagramBytes);
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kDatagramBytes);
}
BENCHMARK(BM_Encrypt520);

void BM_Decrypt520(benchmark::State& state) {
  const SessionCipher& cipher = KeyedCipher();
  std::vector<std::uint8_t> bytes = Datagram();
  for (auto _ : state) {
    cipher.Decrypt(bytes.data(), kDatagramBytes);
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kDatagramBytes);
}
BENCHMARK(BM_Decrypt520);

}  // namespace
}  // namespace tessard

BENCHMARK_MAIN();
