// Constant tables of sharpening: the weights by level and the luma and
// colour-difference contributions of each channel value.
#include "sharpness.h"

const double WeightFace[9] = {0.0, 0.08, 0.16, 0.24, 0.32, 0.4, 0.48, 0.56, 0.64};
const double WeightBack[9] = {0.0, 0.3, 0.6, 0.9, 1.2, 1.5, 1.8, 2.1, 2.4};

namespace {

// Entry v of a channel section is v * K / 100000 with K the coefficient
// times 100000.  v * K and 100000 are exact doubles and IEEE division
// rounds correctly, so the quotient is the double nearest to the decimal
// product.  v times the coefficient's double would round twice and can
// miss it by one unit in the last place (9 * 0.29891 gives
// 2.6901900000000003, not 2.69019).
constexpr std::array<double, 768> ChannelTable(int Kr, int Kg, int Kb)
{
  std::array<double, 768> t{};
  const int K[3] = {Kr, Kg, Kb};
  for (int s = 0; s < 3; s++)
    for (int v = 0; v < 256; v++)
      t[256 * s + v] = (double)(v * K[s]) / 100000.0;
  return t;
}

}  // namespace

constexpr std::array<double, 768> Y_Table = ChannelTable(29891, 58661, 11448);
constexpr std::array<double, 768> Cb_Table = ChannelTable(-16874, -33126, 50000);
constexpr std::array<double, 768> Cr_Table = ChannelTable(50000, -41869, -8131);
