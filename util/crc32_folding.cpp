#include "util/crc32_folding.h"

#include "util/crc32_polynomial.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TESSARD_CRC_CLMUL 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace tessard {

#ifdef TESSARD_CRC_CLMUL
namespace {

// The register holds polynomials bit-reflected: bit 31 is x^0. A 16-byte
// block loaded little-endian is the same way round, bit 0 the highest
// power, so its low 64-bit lane holds the higher half of the block.
using crc32_polynomial::PowerOfX;

// The multiplier that moves a 64-bit lane distance bits further along the
// message. Reflected operands make the 128-bit carry-less product one power
// of x too high, so the constant is x^(distance - 1); it sits in the top 32
// bits of its lane, where a reflected 64-bit value keeps its low powers.
constexpr long long FoldConstant(int distance) {
  return static_cast<long long>(std::uint64_t{PowerOfX(distance - 1)} << 32);
}

// Both lanes of a 16-byte accumulator moved distance bits along: the high
// lane's product by x^distance plus the low lane's by x^(distance + 64).
struct FoldStep {
  __m128i constants;
};

__attribute__((target("pclmul"))) FoldStep MakeFoldStep(int distance) {
  return FoldStep{_mm_set_epi64x(FoldConstant(distance), FoldConstant(distance + 64))};
}

__attribute__((target("pclmul"))) __m128i Fold(__m128i accumulator, FoldStep step, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(accumulator, step.constants, 0x00);
  const __m128i high = _mm_clmulepi64_si128(accumulator, step.constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul"))) __m128i Load(const std::uint8_t* data) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
}

// Four accumulators 64 bytes apart keep the multiplier busy while each
// product's latency runs; they are folded into one at the end.
__attribute__((target("pclmul"))) void FoldWithClmul(std::uint32_t crc, const std::uint8_t* data,
                                                     std::size_t length, std::uint8_t* folded) {
  const FoldStep by512 = MakeFoldStep(512);
  const FoldStep by128 = MakeFoldStep(128);
  // A register that starts at crc reads the message as one starting at 0
  // would read it with crc XORed into its first four bytes.
  __m128i x0 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = Load(data + 16);
  __m128i x2 = Load(data + 32);
  __m128i x3 = Load(data + 48);
  for (data += 64, length -= 64; length >= 64; data += 64, length -= 64) {
    x0 = Fold(x0, by512, Load(data));
    x1 = Fold(x1, by512, Load(data + 16));
    x2 = Fold(x2, by512, Load(data + 32));
    x3 = Fold(x3, by512, Load(data + 48));
  }
  __m128i x = Fold(Fold(Fold(x0, by128, x1), by128, x2), by128, x3);
  for (; length >= 16; data += 16, length -= 16) x = Fold(x, by128, Load(data));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(folded), x);
}

__attribute__((target("avx2,vpclmulqdq"))) __m256i LoadWide(const std::uint8_t* data) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data));
}

__attribute__((target("avx2,vpclmulqdq"))) __m256i FoldWide(__m256i accumulator, __m256i constants,
                                                            __m256i next) {
  const __m256i low = _mm256_clmulepi64_epi128(accumulator, constants, 0x00);
  const __m256i high = _mm256_clmulepi64_epi128(accumulator, constants, 0x11);
  return _mm256_xor_si256(_mm256_xor_si256(low, high), next);
}

// The same with 32-byte registers, two blocks per product instruction, for
// processors that have the wide form: four accumulators 128 bytes apart,
// then the 16-byte path for the last blocks. length is at least 128.
__attribute__((target("avx2,vpclmulqdq,pclmul"))) void FoldWithWideClmul(std::uint32_t crc,
                                                                         const std::uint8_t* data,
                                                                         std::size_t length,
                                                                         std::uint8_t* folded) {
  const __m256i by1024 = _mm256_broadcastsi128_si256(MakeFoldStep(1024).constants);
  const __m256i by256 = _mm256_broadcastsi128_si256(MakeFoldStep(256).constants);
  const FoldStep by128 = MakeFoldStep(128);
  __m256i x0 = _mm256_xor_si256(LoadWide(data),
                                _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(crc))));
  __m256i x1 = LoadWide(data + 32);
  __m256i x2 = LoadWide(data + 64);
  __m256i x3 = LoadWide(data + 96);
  for (data += 128, length -= 128; length >= 128; data += 128, length -= 128) {
    x0 = FoldWide(x0, by1024, LoadWide(data));
    x1 = FoldWide(x1, by1024, LoadWide(data + 32));
    x2 = FoldWide(x2, by1024, LoadWide(data + 64));
    x3 = FoldWide(x3, by1024, LoadWide(data + 96));
  }
  const __m256i x = FoldWide(FoldWide(FoldWide(x0, by256, x1), by256, x2), by256, x3);
  // The low half is the earlier block.
  __m128i narrow = Fold(_mm256_castsi256_si128(x), by128, _mm256_extracti128_si256(x, 1));
  for (; length >= 16; data += 16, length -= 16) narrow = Fold(narrow, by128, Load(data));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(folded), narrow);
}

void FoldPickingWidth(std::uint32_t crc, const std::uint8_t* data, std::size_t length,
                      std::uint8_t* folded) {
  if (length >= 128) {
    FoldWithWideClmul(crc, data, length, folded);
  } else {
    FoldWithClmul(crc, data, length, folded);
  }
}

// AVX2 needs the operating system to save the ymm registers (OSXSAVE, and
// XCR0's SSE and AVX state bits).
bool HasWideClmul(unsigned leaf1Ecx) {
  constexpr unsigned kOsXsave = 1u << 27, kAvx = 1u << 28;
  if ((leaf1Ecx & (kOsXsave | kAvx)) != (kOsXsave | kAvx)) return false;
  unsigned xcr0Low = 0, xcr0High = 0;
  __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
  if ((xcr0Low & 6) != 6) return false;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return (ebx & bit_AVX2) && (ecx & bit_VPCLMULQDQ);
}

}  // namespace
#endif

CrcFold PickCrcFold(std::size_t widestBlock) {
#ifdef TESSARD_CRC_CLMUL
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & bit_PCLMUL)) return nullptr;
  return widestBlock >= 32 && HasWideClmul(ecx) ? FoldPickingWidth : FoldWithClmul;
#else
  (void)widestBlock;
  return nullptr;
#endif
}

}  // namespace tessard
