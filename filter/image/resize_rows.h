// The row loops of resizing, shared by the portable version (resize.cpp)
// and the versions built for AVX2 and AVX-512 (resize_avx2.cpp,
// resize_avx512.cpp), which compile the same loops with their own
// instructions.  Everything here has internal linkage, so that no copy
// built for one processor is ever called from another's code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace resize {

// Arguments of one output row: the expanded rows of the upper (0) and lower
// (1) source row, the column fraction of every byte, the row fraction.
struct BlendArgs
{
  const unsigned char *L0, *R0, *L1, *R1;
  const double *px;
  double py;
  size_t n;
  unsigned char *out;
};

// The output row as one loop over its bytes, every byte on its own, which
// the compiler vectorises: the expression and its order of operations are
// those of the straightforward enlargement, the same integer differences
// each converted to double, the same multiplies and adds lane by lane (IEEE
// vector operations round as the scalar ones do).  The AVX2 and AVX-512
// builds could fuse a multiply and an add; -ffp-contract=off, set for the
// whole build, keeps them apart.
static inline __attribute__((always_inline)) void BlendRowBody(const BlendArgs &a)
{
  const unsigned char *__restrict L0 = a.L0, *__restrict R0 = a.R0, *__restrict L1 = a.L1, *__restrict R1 = a.R1;
  const double *__restrict px = a.px;
  unsigned char *__restrict out = a.out;
  const double py = a.py;
  const size_t n = a.n;
  for (size_t k = 0; k < n; k++)
  {
    const int P00 = L0[k], P10 = R0[k], P01 = L1[k], P11 = R1[k];
    const double pxy = px[k] * py;
    const double v = (double)(P00 - P10 - P01 + P11) * pxy + (double)(P10 - P00) * px[k] +
                     (double)(P01 - P00) * py + (double)P00;
    const int t = (int)v;
    out[k] = (unsigned char)(t < 0 ? 0 : t > 255 ? 255 : t);
  }
}

// One source row reduced along the row: the sums of weights times bytes
// over the runs, each divided by U.  The sums are the same integers as
// those of the straightforward loop, in any order.
struct ReduceArgs
{
  const unsigned char *const *expanded;  // runs rows
  // The units, runs rows of n: 16-bit where U is at most 65535 (the
  // products then widen from 16 bits, which 128-bit vectors multiply
  // cheaply), else 32-bit; the other is null.
  const uint16_t *weights16;
  const uint32_t *weights32;
  size_t stride;  // between the rows of weights
  int runs;
  size_t n;
  uint32_t m;
  int k;
  uint32_t *acc;  // n sums, for more than three runs
  unsigned char *out;
};

template <int Runs, class W>
static inline __attribute__((always_inline)) void ReduceFew(const ReduceArgs &a, const W *weights)
{
  const unsigned char *__restrict e[Runs];
  const W *__restrict w[Runs];
  for (int r = 0; r < Runs; r++)
    e[r] = a.expanded[r], w[r] = weights + r * a.stride;
  unsigned char *__restrict out = a.out;
  const uint32_t m = a.m;
  const int k = a.k;
  const size_t n = a.n;
  for (size_t i = 0; i < n; i++)
  {
    uint32_t sum = 0;
    for (int r = 0; r < Runs; r++)
      sum += (uint32_t)w[r][i] * e[r][i];
    out[i] = (unsigned char)(((uint64_t)sum * m) >> k);
  }
}

template <class W> static inline __attribute__((always_inline)) void ReduceWith(const ReduceArgs &a, const W *weights)
{
  switch (a.runs)
  {
  case 1: ReduceFew<1>(a, weights); return;
  case 2: ReduceFew<2>(a, weights); return;
  case 3: ReduceFew<3>(a, weights); return;
  }
  uint32_t *__restrict acc = a.acc;
  const size_t n = a.n;
  for (size_t i = 0; i < n; i++)
    acc[i] = 0;
  for (int r = 0; r < a.runs; r++)
  {
    const unsigned char *__restrict e = a.expanded[r];
    const W *__restrict w = weights + r * a.stride;
    for (size_t i = 0; i < n; i++)
      acc[i] += (uint32_t)w[i] * e[i];
  }
  unsigned char *__restrict out = a.out;
  const uint32_t m = a.m;
  const int k = a.k;
  for (size_t i = 0; i < n; i++)
    out[i] = (unsigned char)(((uint64_t)acc[i] * m) >> k);
}

static inline __attribute__((always_inline)) void ReduceRowBody(const ReduceArgs &a)
{
  if (a.weights16 != nullptr)
    ReduceWith(a, a.weights16);
  else
    ReduceWith(a, a.weights32);
}

// Target rows from up to three reduced rows: the sums of units times bytes
// down the column, divided by U, at most 255.
struct DownArgs
{
  const unsigned char *rows[3];
  uint32_t units[3];
  int runs;
  size_t n;
  uint32_t m;
  int k;
  unsigned char *out;
};

template <int Runs> static inline __attribute__((always_inline)) void DownFew(const DownArgs &a)
{
  const unsigned char *__restrict e[Runs];
  uint32_t u[Runs];
  for (int r = 0; r < Runs; r++)
    e[r] = a.rows[r], u[r] = a.units[r];
  unsigned char *__restrict out = a.out;
  const uint32_t m = a.m;
  const int k = a.k;
  const size_t n = a.n;
  for (size_t i = 0; i < n; i++)
  {
    uint32_t sum = 0;
    for (int r = 0; r < Runs; r++)
      sum += u[r] * e[r][i];
    const uint32_t q = (uint32_t)(((uint64_t)sum * m) >> k);
    out[i] = (unsigned char)(q < 255 ? q : 255);
  }
}

static inline __attribute__((always_inline)) void DownRowBody(const DownArgs &a)
{
  switch (a.runs)
  {
  case 1: DownFew<1>(a); return;
  case 2: DownFew<2>(a); return;
  default: DownFew<3>(a); return;
  }
}

typedef void (*BlendRowFunction)(const BlendArgs &);
typedef void (*ReduceRowFunction)(const ReduceArgs &);
typedef void (*DownRowFunction)(const DownArgs &);

// An expanded row by byte permutes: output bytes step * c .. step * c + 63
// from the 64 source bytes at src + offsets[c], byte t taking window byte
// index[64 * c + t], for chunks c = 0..chunks-1.  Writes up to 64 - step
// bytes past the last chunk's bytes.
typedef void (*PermuteFunction)(const unsigned char *src, size_t step, size_t chunks, const size_t *offsets,
                                const unsigned char *index, unsigned char *out);

// The versions of the row loops for each vector level: the portable one
// (SSE2 on x86-64, NEON on ARM), and on x86-64 AVX2 (four doubles or eight
// 32-bit sums a vector) and AVX-512 (eight doubles, sixteen sums, and the
// byte permutes of VBMI).
void BlendRowPortable(const BlendArgs &a);
void ReduceRowPortable(const ReduceArgs &a);
void DownRowPortable(const DownArgs &a);
#if defined(__x86_64__) && defined(__GNUC__)
#define KELVO_RESIZE_X86 1
void BlendRowAvx2(const BlendArgs &a);
void ReduceRowAvx2(const ReduceArgs &a);
void DownRowAvx2(const DownArgs &a);
void BlendRowAvx512(const BlendArgs &a);
void ReduceRowAvx512(const ReduceArgs &a);
void DownRowAvx512(const DownArgs &a);
void ExpandByPermutesAvx512(const unsigned char *src, size_t step, size_t chunks, const size_t *offsets,
                            const unsigned char *index, unsigned char *out);
#endif

}  // namespace resize
