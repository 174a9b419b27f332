// The option flags of the input files: opt_elliptic and opt_nest of
// entradas.txt, opt_psrc and opt_qsrc of entrada_eq_elipticas.txt. The value
// 2 switches an option on (smoothing, nest files) or keeps a source array;
// 1, the documented "off", and any other value leave it off.
#pragma once

#include <cstdint>

namespace malha {

inline constexpr std::int32_t kOptionOff = 1;
inline constexpr std::int32_t kOptionOn = 2;

constexpr bool option_on(std::int32_t flag) {
  return flag == kOptionOn;
}

}  // namespace malha
