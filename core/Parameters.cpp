#include "core/Parameters.h"

#include <cmath>

namespace pellucer {

bool decodeOrderCode(double code, std::array<int32_t, 5>& order) {
    if (!(code >= kFirstOrderCode && code <= kLastOrderCode))
        return false;
    // Digit k (k = 4 for the first position) = trunc(v/10^k + 0.01) - 10 trunc(v/10^(k+1) + 0.01);
    // the 0.01 keeps values a hair below an integer (12344.9999) from losing a digit.
    std::array<int32_t, 5> decoded{};
    unsigned seen = 0;
    double scale = 10000.0;
    for (int position = 0; position < 5; ++position, scale /= 10.0) {
        const auto high = static_cast<int32_t>(std::trunc(code / (scale * 10.0) + 0.01));
        const auto digit = static_cast<int32_t>(std::trunc(code / scale + 0.01)) - 10 * high;
        if (digit < 1 || digit > 5 || (seen & (1u << digit)) != 0)
            return false;
        seen |= 1u << digit;
        decoded[position] = digit - 1;
    }
    order = decoded;
    return true;
}

double encodeOrderCode(const int32_t* order) {
    double code = 11111.0;
    double scale = 10000.0;
    for (int position = 0; position < 5; ++position, scale /= 10.0)
        code += order[position] * scale;
    return code;
}

} // namespace pellucer
