#include "HtmlTypes.h"

#include <cstdlib>
#include <limits>

namespace orvane {

int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    int64_t product = static_cast<int64_t>(a) * b;
    bool negative = (product < 0) != (c < 0);
    uint64_t num = product < 0 ? static_cast<uint64_t>(-(product + 1)) + 1 : static_cast<uint64_t>(product);
    uint64_t den = c < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(c)) : static_cast<uint64_t>(c);
    uint64_t q = (num + den / 2) / den;
    if (q > static_cast<uint64_t>(std::numeric_limits<int>::max()) + (negative ? 1 : 0)) return -1;
    return negative ? static_cast<int>(-static_cast<int64_t>(q)) : static_cast<int>(q);
}

}  // namespace orvane
