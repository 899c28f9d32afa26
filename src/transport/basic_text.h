// How the program writes numbers into its messages and printed lines.
#pragma once

#include <cstdint>
#include <string>

// Decimal with one leading space in the sign position for a non-negative number:
// 6 -> " 6", -99 -> "-99".
inline std::string NumText(long long n)
{
    return (n >= 0 ? " " : "") + std::to_string(n);
}

// Upper-case hexadecimal without leading zeros: 0 -> "0", 0x59 -> "59", 0x0E -> "E".
inline std::string HexText(std::uint32_t v)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), digits[v & 0xF]);
        v >>= 4;
    } while (v);
    return out;
}
