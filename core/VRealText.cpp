#include "core/VRealText.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace vela {

namespace {

using uint128 = unsigned __int128;

constexpr uint64 kLowest14 = 10000000000000ull;   // 10^13, the smallest number of 14 digits
constexpr uint64 kPastHighest14 = kLowest14 * 10; // 10^14

// Powers of five up to the largest whose product with a 53-bit mantissa still fits 128 bits.
constexpr int32 kMaxFivePower = 32;
constexpr std::array<uint128, kMaxFivePower + 1> kFivePowers = [] {
    std::array<uint128, kMaxFivePower + 1> powers{};
    powers[0] = 1;
    for (int32 i = 1; i <= kMaxFivePower; ++i)
        powers[i] = powers[i - 1] * 5;
    return powers;
}();

constexpr char kDigitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                               "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                               "8081828384858687888990919293949596979899";

// A nonzero finite magnitude rounded to 14 significant digits: fDigits in [10^13, 10^14), the first digit of
// decimal exponent fExponent.
struct Digits14 {
    uint64 fDigits = 0;
    int32 fExponent = 0;
};

// floor(m 2^e 10^p), and where the rest lies, in exact integer arithmetic: 10^p is 5^p 2^p, so only a power of
// five multiplies or divides. False when the numbers would not fit 128 bits, or the whole part not 64.
struct Scaled {
    uint64 fWhole = 0;
    int fHalf = 0;      // the rest against one half: -1 below, 0 equal, 1 above
    bool fZero = false; // the rest is zero
};

bool ScaleExactly(uint64 m, int32 e, int32 p, Scaled& out) noexcept {
    int32 twos = e + p;
    uint128 quotient = 0;
    uint128 rest = 0;
    uint128 other = 0; // one unit less the rest: rest against other is rest against one half
    if (p >= 0) {
        // Multiplied by 5^p, then shifted right: the bits shifted out are the rest.
        if (p > kMaxFivePower || twos > 0 || twos <= -128) return false;
        uint128 product = uint128(m) * kFivePowers[size_t(p)];
        int32 shift = -twos;
        if (shift == 0) {
            quotient = product;
            other = 1;
        } else {
            quotient = product >> shift;
            rest = product - (quotient << shift);
            other = (uint128(1) << shift) - rest;
        }
    } else {
        // Divided by 5^-p, with the power of two on whichever side keeps it whole.
        if (-p > kMaxFivePower || twos > 127 - 53 || twos < -53) return false;
        uint128 numerator = uint128(m) << (twos > 0 ? twos : 0);
        uint128 denominator = kFivePowers[size_t(-p)] << (twos < 0 ? -twos : 0);
        quotient = numerator / denominator;
        rest = numerator - quotient * denominator;
        other = denominator - rest;
    }
    if ((quotient >> 64) != 0) return false;
    out.fWhole = uint64(quotient);
    out.fHalf = rest < other ? -1 : (rest == other ? 0 : 1);
    out.fZero = rest == 0;
    return true;
}

// floor(log10(2^binary)), exact for |binary| up to 1650.
int32 FloorLog10Pow2(int32 binary) noexcept {
    return binary >= 0 ? (binary * 78913) >> 18 : -((-binary * 78913) >> 18) - 1;
}

// The 14 digits of m 2^e (a normal double, m of 53 bits) by ScaleExactly, ties to even as C's printf rounds;
// false where that arithmetic does not reach (roughly below 1e-19 and above 1e48).
bool RoundExactly(uint64 m, int32 e, Digits14& out) noexcept {
    // The value lies in [2^(e+52), 2^(e+53)): its decimal exponent is this one or the next.
    int32 exponent = FloorLog10Pow2(e + 52);
    Scaled scaled;
    if (!ScaleExactly(m, e, 13 - exponent, scaled)) return false;
    uint64 whole = scaled.fWhole;
    int half = scaled.fHalf;
    if (whole >= kPastHighest14) {
        // One digit too many: the last one joins the rest.
        int last = int(whole % 10);
        whole /= 10;
        half = last < 5 ? -1 : (last > 5 || !scaled.fZero ? 1 : 0);
        ++exponent;
    }
    if (half > 0 || (half == 0 && (whole & 1) != 0)) ++whole;
    if (whole == kPastHighest14) {
        whole = kLowest14;
        ++exponent;
    }
    out = Digits14{whole, exponent};
    return true;
}

// The 14 digits of a normal magnitude from its shortest text that reads back. That text lies within half a unit
// in the last place of the value, far less than half a unit of the 14th digit, so rounding it gives the digits
// of the value itself, except when it is the midpoint of two 14-digit neighbours (15 digits ending in 5), the
// one place where rounding twice can differ from rounding once: false then.
bool RoundShortest(double magnitude, Digits14& out) noexcept {
    char text[32];
    std::to_chars_result result = std::to_chars(text, text + sizeof(text), magnitude, std::chars_format::scientific);
    const char* p = text;
    uint64 digits = 0;
    int32 count = 0;
    int next = 0; // the 15th digit
    for (; p < result.ptr && *p != 'e'; ++p) {
        if (*p == '.') continue;
        if (count < 14) {
            digits = digits * 10 + uint64(*p - '0');
        } else if (count == 14) {
            next = *p - '0';
        }
        ++count;
    }
    int32 exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), result.ptr, exponent);
    for (int32 i = count; i < 14; ++i)
        digits *= 10;
    if (count == 15 && next == 5) return false;
    // The shortest text ends with a nonzero digit: past 15 digits, a 5 in the 15th place is more than one half.
    if (next > 5 || (next == 5 && count > 15)) ++digits;
    if (digits == kPastHighest14) {
        digits = kLowest14;
        ++exponent;
    }
    out = Digits14{digits, exponent};
    return true;
}

// The standard library's "%.14G", upper-cased: for what the faster roads leave (infinities, NaN, subnormals and
// the midpoints RoundShortest cannot settle).
int32 FormatWithLibrary(double value, char* buffer) noexcept {
    std::to_chars_result result =
        std::to_chars(buffer, buffer + kRealG14TextSize - 1, value, std::chars_format::general, 14);
    for (char* c = buffer; c < result.ptr; ++c) {
        if (*c >= 'a' && *c <= 'z') *c = char(*c - 'a' + 'A');
    }
    return int32(result.ptr - buffer);
}

char* WriteExponent(int32 exponent, char* out) noexcept {
    *out++ = 'E';
    *out++ = exponent < 0 ? '-' : '+';
    int32 magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude >= 100) {
        *out++ = char('0' + magnitude / 100);
        magnitude %= 100;
    }
    *out++ = char('0' + magnitude / 10);
    *out++ = char('0' + magnitude % 10);
    return out;
}

// "%G" with precision 14 from the rounded digits: fixed for exponents from -4 to 13, trailing zeros dropped.
int32 WriteG14(bool negative, const Digits14& rounded, char* buffer) noexcept {
    char digits[14];
    // Two independent halves of seven digits, two digits a step.
    uint32 halves[2] = {uint32(rounded.fDigits / 10000000), uint32(rounded.fDigits % 10000000)};
    for (int32 h = 0; h < 2; ++h) {
        uint32 rest = halves[h];
        char* end = digits + 7 * (h + 1);
        for (int32 i = 0; i < 3; ++i) {
            std::memcpy(end - 2 * (i + 1), kDigitPairs + 2 * (rest % 100), 2);
            rest /= 100;
        }
        end[-7] = char('0' + rest);
    }
    int32 count = 14;
    while (count > 1 && digits[count - 1] == '0')
        --count;
    char* out = buffer;
    if (negative) *out++ = '-';
    int32 exponent = rounded.fExponent;
    if (exponent < -4 || exponent >= 14) {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = '.';
            std::memcpy(out, digits + 1, size_t(count - 1));
            out += count - 1;
        }
        out = WriteExponent(exponent, out);
    } else if (exponent >= 0) {
        int32 whole = exponent + 1;
        if (count <= whole) {
            std::memcpy(out, digits, size_t(count));
            std::memset(out + count, '0', size_t(whole - count));
            out += whole;
        } else {
            std::memcpy(out, digits, size_t(whole));
            out += whole;
            *out++ = '.';
            std::memcpy(out, digits + whole, size_t(count - whole));
            out += count - whole;
        }
    } else {
        *out++ = '0';
        *out++ = '.';
        std::memset(out, '0', size_t(-exponent - 1));
        out += -exponent - 1;
        std::memcpy(out, digits, size_t(count));
        out += count;
    }
    return int32(out - buffer);
}

} // namespace

int32 FormatRealG14(double value, char* buffer) noexcept {
    if (!std::isfinite(value)) return FormatWithLibrary(value, buffer);
    bool negative = std::signbit(value);
    if (value == 0) {
        char* out = buffer;
        if (negative) *out++ = '-';
        *out++ = '0';
        return int32(out - buffer);
    }
    uint64 bits = std::bit_cast<uint64>(value);
    int32 biased = int32((bits >> 52) & 0x7FF);
    if (biased == 0) return FormatWithLibrary(value, buffer); // subnormal: fewer digits held, rarely met
    uint64 m = (bits & ((uint64(1) << 52) - 1)) | (uint64(1) << 52);
    Digits14 rounded;
    if (!RoundExactly(m, biased - 1075, rounded) && !RoundShortest(std::fabs(value), rounded))
        return FormatWithLibrary(value, buffer);
    return WriteG14(negative, rounded, buffer);
}

} // namespace vela
