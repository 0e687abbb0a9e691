// The powers of ten that are exact doubles, shared by the number reader and writer: both rely on
// one correctly rounded multiplication or division by such a power giving the exact decimal
// result rounded once.
#pragma once

namespace weldrix {

// 10^0 to 10^22; 10^23 is the first power of ten a double cannot hold exactly.
inline constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                                 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr int largest_exact_power_of_ten = 22;

}  // namespace weldrix
