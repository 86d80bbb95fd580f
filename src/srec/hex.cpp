#include "srec/hex.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define IMGPACK_HAVE_AVX2_PATH 1
#endif

namespace imgpack {

namespace {

void decode_scalar(const unsigned char* chars, std::size_t count, std::uint8_t* out) noexcept {
    const auto& digit_of = detail::digit_table;
    for (std::size_t i = 0; i < count; ++i) {
        out[i] =
            static_cast<std::uint8_t>((digit_of[chars[2 * i]] << 4) + digit_of[chars[2 * i + 1]]);
    }
}

#if defined(__SSE2__)

// The digit value of each of 16 characters, modulo 256, by the same three
// rules as hex_digit(): subtract 0x30 from '0'-'9', 0x37 from 'A'-'F' and
// 0x57 from everything else.
__m128i digit_values(__m128i chars) noexcept {
    const __m128i from_zero = _mm_sub_epi8(chars, _mm_set1_epi8(0x30));
    const __m128i from_a = _mm_sub_epi8(chars, _mm_set1_epi8(0x41));
    // x <= n as unsigned bytes exactly when min(x, n) == x.
    const __m128i is_decimal = _mm_cmpeq_epi8(_mm_min_epu8(from_zero, _mm_set1_epi8(9)), from_zero);
    const __m128i is_upper = _mm_cmpeq_epi8(_mm_min_epu8(from_a, _mm_set1_epi8(5)), from_a);
    // c - 0x57, plus 0x20 back for 'A'-'F' and 0x27 back for '0'-'9'.
    const __m128i lower_rule = _mm_sub_epi8(chars, _mm_set1_epi8(0x57));
    const __m128i correction = _mm_or_si128(_mm_and_si128(is_upper, _mm_set1_epi8(0x20)),
                                            _mm_and_si128(is_decimal, _mm_set1_epi8(0x27)));
    return _mm_add_epi8(lower_rule, correction);
}

// A byte of all ones for each of 16 characters that is a hexadecimal digit:
// '0'-'9', or 'a'-'f' once bit 0x20 makes upper case lower.
__m128i hex_digit_mask(__m128i chars) noexcept {
    const __m128i from_zero = _mm_sub_epi8(chars, _mm_set1_epi8('0'));
    const __m128i from_a =
        _mm_sub_epi8(_mm_or_si128(chars, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    // x <= n as unsigned bytes exactly when min(x, n) == x.
    const __m128i is_decimal = _mm_cmpeq_epi8(_mm_min_epu8(from_zero, _mm_set1_epi8(9)), from_zero);
    const __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(from_a, _mm_set1_epi8(5)), from_a);
    return _mm_or_si128(is_decimal, is_letter);
}

// Eight bytes, each in a 16-bit lane, from 16 characters: high digit times 16
// plus low digit, keeping the low 8 bits.
__m128i pair_values(__m128i chars) noexcept {
    const __m128i digits = digit_values(chars);
    const __m128i high = _mm_slli_epi16(_mm_and_si128(digits, _mm_set1_epi16(0x00FF)), 4);
    const __m128i low = _mm_srli_epi16(digits, 8);
    return _mm_and_si128(_mm_add_epi16(high, low), _mm_set1_epi16(0x00FF));
}

#endif

#if defined(IMGPACK_HAVE_AVX2_PATH)

// The same rules as digit_values(), on 32 characters at once.
[[gnu::target("avx2")]] __m256i digit_values_avx2(__m256i chars) noexcept {
    const __m256i from_zero = _mm256_sub_epi8(chars, _mm256_set1_epi8(0x30));
    const __m256i from_a = _mm256_sub_epi8(chars, _mm256_set1_epi8(0x41));
    const __m256i is_decimal =
        _mm256_cmpeq_epi8(_mm256_min_epu8(from_zero, _mm256_set1_epi8(9)), from_zero);
    const __m256i is_upper =
        _mm256_cmpeq_epi8(_mm256_min_epu8(from_a, _mm256_set1_epi8(5)), from_a);
    const __m256i lower_rule = _mm256_sub_epi8(chars, _mm256_set1_epi8(0x57));
    const __m256i correction =
        _mm256_or_si256(_mm256_and_si256(is_upper, _mm256_set1_epi8(0x20)),
                        _mm256_and_si256(is_decimal, _mm256_set1_epi8(0x27)));
    return _mm256_add_epi8(lower_rule, correction);
}

[[gnu::target("avx2")]] __m256i pair_values_avx2(__m256i chars) noexcept {
    const __m256i digits = digit_values_avx2(chars);
    const __m256i high = _mm256_slli_epi16(_mm256_and_si256(digits, _mm256_set1_epi16(0x00FF)), 4);
    const __m256i low = _mm256_srli_epi16(digits, 8);
    return _mm256_and_si256(_mm256_add_epi16(high, low), _mm256_set1_epi16(0x00FF));
}

// Decodes the whole 32-byte groups (64 characters each); returns how many
// bytes it decoded.
[[gnu::target("avx2")]] std::size_t
decode_groups_avx2(const unsigned char* chars, std::size_t count, std::uint8_t* out) noexcept {
    std::size_t done = 0;
    for (; done + 32 <= count; done += 32) {
        const __m256i first =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chars + 2 * done));
        const __m256i second =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chars + 2 * done + 32));
        // packus works within 128-bit lanes; the permute puts the four
        // quarters back in order.
        const __m256i packed =
            _mm256_packus_epi16(pair_values_avx2(first), pair_values_avx2(second));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + done),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
    return done;
}

std::size_t decode_groups_none(const unsigned char* /*chars*/, std::size_t /*count*/,
                               std::uint8_t* /*out*/) noexcept {
    return 0;
}

using GroupDecoder = std::size_t (*)(const unsigned char*, std::size_t, std::uint8_t*) noexcept;

// Chosen on first use, by what the processor running the program supports.
// The processor model is read first: in a static program the library's own
// initialiser may not have run yet.
GroupDecoder group_decoder() noexcept {
    static const GroupDecoder chosen = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? decode_groups_avx2 : decode_groups_none;
    }();
    return chosen;
}

#endif

} // namespace

void hex_bytes(std::span<const char> text, std::span<std::uint8_t> decoded) noexcept {
    const auto* chars = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t count = decoded.size();
    std::uint8_t* out = decoded.data();
    std::size_t done = 0;
#if defined(IMGPACK_HAVE_AVX2_PATH)
    if (count >= 32) {
        done = group_decoder()(chars, count, out);
    }
#endif
#if defined(__SSE2__)
    // 32 characters give 16 bytes; the loads never reach past the 2 * count
    // characters of the field.
    for (; done + 16 <= count; done += 16) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + 2 * done));
        const __m128i second =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + 2 * done + 16));
        const __m128i bytes = _mm_packus_epi16(pair_values(first), pair_values(second));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), bytes);
    }
    if (done + 8 <= count) {
        const __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + 2 * done));
        const __m128i bytes = _mm_packus_epi16(pair_values(half), _mm_setzero_si128());
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + done), bytes);
        done += 8;
    }
#endif
    decode_scalar(chars + 2 * done, count - done, out + done);
}

std::size_t find_non_hex_digit(std::span<const char> text) noexcept {
    std::size_t offset = 0;
#if defined(__SSE2__)
    for (; offset + 16 <= text.size(); offset += 16) {
        const __m128i chars =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + offset));
        const auto valid = static_cast<unsigned>(_mm_movemask_epi8(hex_digit_mask(chars)));
        if (valid != 0xFFFFU) {
            return offset + static_cast<std::size_t>(__builtin_ctz(~valid));
        }
    }
#endif
    for (; offset < text.size(); ++offset) {
        if (!is_hex_digit(text[offset])) {
            break;
        }
    }
    return offset;
}

namespace {

// 1 for each character that is not a hexadecimal digit, made from is_hex_digit().
constexpr std::array<std::uint8_t, 256> non_digit_table = [] {
    std::array<std::uint8_t, 256> table{};
    for (std::size_t byte = 0; byte < table.size(); ++byte) {
        table[byte] = is_hex_digit(static_cast<char>(byte)) ? 0 : 1;
    }
    return table;
}();

} // namespace

std::optional<std::uint8_t> hex_byte_sum(std::span<const char> text) noexcept {
    if (text.size() % 2 != 0) {
        return std::nullopt; // a digit without its partner
    }
    std::size_t offset = 0;
    unsigned sum = 0;
    bool all_digits = true;
#if defined(__SSE2__)
    if (text.size() >= 16) {
        // Sixteen characters (eight bytes) at a time; the bytes sit in 16-bit
        // lanes with zero high halves, so adding up all 16 lanes' bytes adds them.
        __m128i sums = _mm_setzero_si128();
        __m128i digits = _mm_set1_epi8(-1);
        const auto add = [&](__m128i chars, __m128i counted_lanes) {
            digits = _mm_and_si128(digits, hex_digit_mask(chars));
            const __m128i bytes = _mm_andnot_si128(counted_lanes, pair_values(chars));
            sums = _mm_add_epi64(sums, _mm_sad_epu8(bytes, _mm_setzero_si128()));
        };
        for (; offset + 16 <= text.size(); offset += 16) {
            add(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + offset)),
                _mm_setzero_si128());
        }
        if (offset < text.size()) {
            // The last sixteen characters, leaving out the bytes already added.
            const std::size_t last = text.size() - 16;
            const auto counted = static_cast<short>((offset - last) / 2);
            add(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + last)),
                _mm_cmplt_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), _mm_set1_epi16(counted)));
            offset = text.size();
        }
        all_digits = _mm_movemask_epi8(digits) == 0xFFFF;
        sum = static_cast<unsigned>(_mm_cvtsi128_si32(sums)) +
              static_cast<unsigned>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
#endif
    const auto& digit_of = detail::digit_table;
    // Without a branch per character: the digits are unpredictable.
    unsigned non_digits = 0;
    for (; offset < text.size(); offset += 2) {
        const auto high = static_cast<unsigned char>(text[offset]);
        const auto low = static_cast<unsigned char>(text[offset + 1]);
        non_digits += non_digit_table[high] + non_digit_table[low];
        sum += (digit_of[high] << 4) + digit_of[low];
    }
    if (!all_digits || non_digits != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(sum);
}

} // namespace imgpack
