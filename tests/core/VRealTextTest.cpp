#include "core/VRealText.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

using namespace vela;

std::string Ours(double value) {
    char text[kRealG14TextSize];
    int32 length = FormatRealG14(value, text);
    return std::string(text, size_t(length));
}

std::string Printed(double value) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.14G", value);
    return text;
}

std::string Hex(double value) {
    char text[64];
    std::snprintf(text, sizeof(text), "%a", value);
    return text;
}

TEST(VRealText, EdgeValuesReadAsCPrintsThem) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        // Subnormals and the ends of the range.
        {4.9406564584124654e-324, "4.9406564584125E-324"},
        {2.5000000000000171e-310, "2.5E-310"},
        {2.2250738585072009e-308, "2.2250738585072E-308"},
        {DBL_MIN, "2.2250738585072E-308"},
        {DBL_MAX, "1.7976931348623E+308"},
        {-DBL_MAX, "-1.7976931348623E+308"},
        // Zeros, infinities, NaN.
        {0.0, "0"},
        {-0.0, "-0"},
        {INFINITY, "INF"},
        {-INFINITY, "-INF"},
        {NAN, "NAN"},
        // The switch between the fixed and the exponent form, also when rounding carries across it.
        {1e-5, "1E-05"},
        {1e-4, "0.0001"},
        {9.9999999999999503e-05, "0.0001"},
        {9.999999999999949e-05, "9.9999999999999E-05"},
        {1e13, "10000000000000"},
        {99999999999999.406, "99999999999999"},
        {99999999999999.5, "1E+14"},
        {1e14, "1E+14"},
        {1e23, "1E+23"},
        {-2.5, "-2.5"},
        {0.30000000000000004, "0.3"},
        // Around 2^53, and integers past it.
        {9007199254740991.0, "9.007199254741E+15"},
        {9007199254740992.0, "9.007199254741E+15"},
        {505874924095815700.0, "5.0587492409582E+17"},
        // Exact halves at the 15th digit go to the even neighbour.
        {123456789012345.0, "1.2345678901234E+14"},
        {123456789012355.0, "1.2345678901236E+14"},
        {1234567890123.25, "1234567890123.2"},
        {1234567890123.75, "1234567890123.8"},
        // A 15-digit text ending in 5 whose double lies just below it: rounding that text again would go up.
        {0.123456789012345, "0.12345678901234"},
        // Where the exact integer arithmetic stops and the other road starts.
        {1e-19, "1E-19"},
        {1e-20, "1E-20"},
        {1e48, "1E+48"},
        {1e49, "1E+49"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Ours(c.value), c.text) << Hex(c.value);
        EXPECT_EQ(Printed(c.value), c.text) << Hex(c.value); // the table itself is C's
    }
}

// Differential against the C library on the values where a shortcut would go wrong: midpoints between two
// 14-digit neighbours written with 15 digits, the doubles on either side of them, exact halves, and random bits.
TEST(VRealText, MatchesCPrintfOnMidpointsTiesAndRandomBits) {
    std::mt19937_64 random(16);
    auto check = [](double value) { ASSERT_EQ(Ours(value), Printed(value)) << Hex(value); };
    for (int i = 0; i < 20000; ++i) {
        uint64 digits = 100000000000000ull + random() % 900000000000000ull;
        digits = digits / 10 * 10 + 5;
        int exponent = int(random() % 640) - 330;
        char text[64];
        std::snprintf(text, sizeof(text), "%llue%d", static_cast<unsigned long long>(digits), exponent);
        double midpoint = std::strtod(text, nullptr);
        check(midpoint);
        check(std::nextafter(midpoint, 0.0));
        check(std::nextafter(midpoint, INFINITY));
        check(-double(digits));                                 // exact halves of 15 digits
        check(double(digits / 100) + 0.25 * double(1 + i % 3)); // exact halves and quarters of 14 or 15 digits
        uint64 bits = random();
        double any = 0;
        std::memcpy(&any, &bits, sizeof(any));
        check(any);
        check(std::ldexp(double(random() >> 11), int(random() % 400) - 200));
    }
}

} // namespace
