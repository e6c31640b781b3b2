// Smear control (Part 3.5): the built-in smear tables, GetSmearlut, the
// worked examples byte for byte (unit level and through the filter), and
// the behaviour of SmearControl row by row.
//
// Many checks compare SmearControl with a reference model below: the
// algorithm of Part 3.5 written out step by step.  The model reproduces both
// worked examples, and its switches (a different long weight at one row,
// one or three strong steps in a row, shifts that truncate toward zero) show that each rule is visible in the bytes: the real output matches
// the model as specified and differs from every variant.
#include "image/smear_control.h"
#include "page_buffers.h"
#include "random/mt19937ar.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// ---------------------------------------------------------------------------
// The telling rows of Part 3.5: input, then normal blue, green, red and soft
// blue, green, red.
struct TellingRow
{
  int input;
  int normal[3];
  int soft[3];
};

const TellingRow kTelling[] = {
    {0, {215, 221, 218}, {215, 221, 218}},   {32, {175, 182, 178}, {177, 180, 176}},
    {64, {145, 152, 148}, {150, 154, 148}},  {96, {124, 130, 127}, {132, 135, 130}},
    {128, {105, 111, 108}, {114, 120, 116}}, {160, {87, 96, 93}, {100, 106, 102}},
    {192, {69, 83, 79}, {84, 94, 89}},       {224, {60, 71, 66}, {69, 81, 77}},
    {240, {53, 63, 60}, {59, 71, 67}},       {248, {46, 55, 52}, {46, 58, 55}},
    {252, {39, 48, 44}, {35, 47, 44}},       {253, {37, 45, 41}, {32, 44, 41}},
    {254, {19, 23, 21}, {16, 22, 21}},       {255, {0, 0, 0}, {0, 0, 0}},
};

const Bytes kExample1 = {105, 105, 124, 125, 111, 111, 131, 131, 108, 108, 127, 128};
const Bytes kExample2 = {0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255};

Bytes Lut(int mode)
{
  Bytes lut(kSmearLutBytes);
  GetSmearlut(lut.data(), mode);
  return lut;
}

// A curve of the same value as the input in every channel.
Bytes IdentityLut()
{
  Bytes lut(kSmearLutBytes);
  for (int i = 0; i < kSmearLutBytes; i++)
    lut[i] = (unsigned char)(i % 256);
  return lut;
}

// A page whose row j is rows[j] in every byte.
Bytes RowsPage(unsigned w, const std::vector<int> &rows)
{
  Bytes page;
  for (int v : rows)
    page.insert(page.end(), 3 * (size_t)w, (unsigned char)v);
  return page;
}

Bytes Smear(const Bytes &page, unsigned w, unsigned h, const Bytes &lut)
{
  Bytes out(3 * (size_t)w * h, 0xA5);
  Bytes src = page;  // SmearControl takes a non-const pointer; keep the page intact
  Bytes curve = lut;
  EXPECT_EQ(SmearControl(src.data(), w, h, curve.data(), out.data()), 0);
  EXPECT_EQ(src, page) << "the page image is read only";
  return out;
}

// A page with sudden changes: every position runs through segments of a few
// rows of one value (often very dark or very light), with some noise.
Bytes StructuredPage(unsigned w, unsigned h, uint32_t seed)
{
  std::mt19937 rng(seed);
  Bytes page(3 * (size_t)w * h);
  for (size_t i = 0; i < 3 * (size_t)w; i++)
  {
    int value = 0, left = 0;
    for (unsigned j = 0; j < h; j++)
    {
      if (left-- <= 0)
      {
        left = (int)(rng() % 12);
        switch (rng() % 4)
        {
          case 0: value = 0; break;
          case 1: value = 255; break;
          default: value = (int)(rng() % 256); break;
        }
      }
      int noisy = value + (int)(rng() % 7) - 3;
      page[j * 3 * (size_t)w + i] = (unsigned char)(noisy < 0 ? 0 : noisy > 255 ? 255 : noisy);
    }
  }
  return page;
}

// ---------------------------------------------------------------------------
// The reference model of SmearControl, with switches for its variants.
int SpecLongWeight(unsigned j) { return j < 600 ? (int)((73 * j) / 600) : 73; }

struct ModelOptions
{
  std::function<int(unsigned)> longWeight = SpecLongWeight;
  int maxStrongRun = 2;     // strong steps allowed in a row
  bool floorShift = true;   // false: shifts truncate toward zero instead
};

Bytes Model(const Bytes &src, unsigned w, unsigned h, const Bytes &lut, const ModelOptions &o = {},
            std::vector<char> *strong = nullptr)
{
  const uint32_t key[4] = {0x123, 0x234, 0x345, 0x456};
  init_by_array(key, 4);
  auto shr = [&](int64_t x) -> int32_t { return (int32_t)(o.floorShift ? x >> 10 : x / 1024); };
  const size_t len = 3 * (size_t)w, plane = (size_t)w * h;
  std::vector<int32_t> sh(len), mh(len), lh(len), cnt(len), ref(len);
  Bytes out(3 * plane);
  if (strong)
    strong->assign(len * h, 0);
  for (unsigned j = 0; j < h; j++)
  {
    const int32_t lw = o.longWeight(j);
    for (size_t i = 0; i < len; i++)
    {
      const unsigned c = i % 3;
      auto v = [&](unsigned x) { return (int32_t)lut[256 * c + x]; };
      const size_t q = (2 - c) * plane + j * (size_t)w + i / 3;
      const unsigned d = src[j * len + i];
      if (j == 0)
      {
        unsigned sum = 0, n = 0;
        for (unsigned r = 0; r < h && r < 200; r++, n++)
          sum += src[r * len + i];
        sh[i] = mh[i] = lh[i] = v(sum / n) * 1024;
        cnt[i] = 0;
        ref[i] = v(d);
        out[q] = (unsigned char)v(d);
        continue;
      }
      const int32_t comp = v(d), org = comp * 1024;
      const int32_t longS = org + shr((int64_t)(org - lh[i]) * lw);
      const int32_t midS = longS + shr((int64_t)(longS - mh[i]) * 115);
      int32_t shortS;
      if (std::abs(ref[i] - comp) >= 40 && cnt[i] < o.maxStrongRun)
      {
        cnt[i]++;
        shortS = midS + shr((int64_t)(midS - sh[i]) * 730);
        if (strong)
          (*strong)[j * len + i] = 1;
      }
      else
      {
        cnt[i] = 0;
        ref[i] = comp;
        shortS = midS + shr((int64_t)(midS - sh[i]) * 280);
      }
      const int32_t temp = shr((int64_t)shortS + (genrand_int32() & 0x3FF));
      out[q] = ClampByte(temp);
      lh[i] = longS + shr((int64_t)lh[i] * 1022) - shr((int64_t)longS * 1022);
      mh[i] = midS + shr((int64_t)mh[i] * 1015) - shr((int64_t)midS * 1015);
      sh[i] = shortS + shr((int64_t)sh[i] * 800) - shr((int64_t)shortS * 800);
    }
    for (size_t k = 3; k + 3 < len; k++)
    {
      sh[k] = shr(150 * (int64_t)sh[k - 3] + 724 * (int64_t)sh[k] + 150 * (int64_t)sh[k + 3]);
      mh[k] = shr(510 * (int64_t)mh[k - 3] + 4 * (int64_t)mh[k] + 510 * (int64_t)mh[k + 3]);
      lh[k] = shr(510 * (int64_t)lh[k - 3] + 4 * (int64_t)lh[k] + 510 * (int64_t)lh[k + 3]);
    }
  }
  return out;
}

// The output column of pixel p in every plane, row by row.
Bytes Column(const Bytes &out, unsigned w, unsigned h, unsigned p)
{
  Bytes col;
  for (unsigned plane = 0; plane < 3; plane++)
    for (unsigned j = 0; j < h; j++)
      col.push_back(out[plane * (size_t)w * h + j * (size_t)w + p]);
  return col;
}

// ===========================================================================
// The built-in tables.

TEST(SmearTables, TellingRowsHoldInBothTables)
{
  for (const TellingRow &row : kTelling)
    for (int s = 0; s < 3; s++)
    {
      EXPECT_EQ(HVX_A4_Normal[256 * s + row.input], row.normal[s]) << "section " << s << " input " << row.input;
      EXPECT_EQ(HVX_A4_Normal_Soft[256 * s + row.input], row.soft[s]) << "section " << s << " input " << row.input;
    }
}

TEST(SmearTables, EndValuesMonotoneAndZeroOnlyAt255)
{
  const int ends[3] = {215, 221, 218};
  for (const unsigned char *table : {HVX_A4_Normal, HVX_A4_Normal_Soft})
    for (int s = 0; s < 3; s++)
    {
      const unsigned char *sec = table + 256 * s;
      EXPECT_EQ(sec[0], ends[s]) << s;
      EXPECT_EQ(sec[255], 0) << s;
      for (int x = 0; x < 255; x++)
      {
        EXPECT_GE(sec[x], sec[x + 1]) << "section " << s << " rises at " << x;
        EXPECT_GT(sec[x], 0) << "section " << s << " is 0 at " << x;
      }
      // The steep drop over the last two steps.
      EXPECT_GE(sec[253] - sec[255], 30) << s;
    }
  // The two tables differ in most entries between their ends.
  int differ = 0;
  for (int i = 0; i < kSmearLutBytes; i++)
    differ += HVX_A4_Normal[i] != HVX_A4_Normal_Soft[i];
  EXPECT_GT(differ, kSmearLutBytes / 2);
}

TEST(SmearTables, EntriesPinnedByTheWorkedExamples)
{
  const unsigned char *blue = HVX_A4_Normal, *green = HVX_A4_Normal + 256, *red = HVX_A4_Normal + 512;
  // Stated by the examples.
  EXPECT_EQ(red[100], 124);
  EXPECT_EQ(red[114], 116);
  EXPECT_EQ(red[127], 109);
  // Solved by tools/gen_smear_tables.py from the first example's output.
  EXPECT_EQ(blue[100], 121);
  EXPECT_EQ(blue[114], 113);
  EXPECT_EQ(green[100], 127);
  EXPECT_EQ(green[114], 119);
}

// ===========================================================================
// GetSmearlut.

TEST(GetSmearlut, PrintModePicksTheTableInPixelOrder)
{
  for (int mode : {0, 1, 2, -1, 100})
  {
    Bytes lut(kSmearLutBytes, 0xAA);
    EXPECT_EQ(GetSmearlut(lut.data(), mode), 1);
    const unsigned char *table = mode == 0 ? HVX_A4_Normal_Soft : HVX_A4_Normal;
    // hotlut red, green, blue = table sections 2, 1, 0: every entry rewritten.
    for (int x = 0; x < 256; x++)
    {
      ASSERT_EQ(lut[x], table[512 + x]) << mode << " red " << x;
      ASSERT_EQ(lut[256 + x], table[256 + x]) << mode << " green " << x;
      ASSERT_EQ(lut[512 + x], table[x]) << mode << " blue " << x;
    }
  }
  Bytes soft = Lut(0), normal = Lut(1);
  EXPECT_EQ(soft[128], 116);   // soft red at 128
  EXPECT_EQ(normal[128], 108); // normal red at 128
  EXPECT_EQ(normal[512 + 128], 105); // normal blue
}

TEST(GetSmearlut, OverwritesWhateverWasThere)
{
  for (unsigned char fill : {0x00, 0x55, 0xFF})
  {
    Bytes a(kSmearLutBytes, fill);
    GetSmearlut(a.data(), 1);
    EXPECT_EQ(a, Lut(1));
    Bytes b(kSmearLutBytes, fill);
    GetSmearlut(b.data(), 0);
    EXPECT_EQ(b, Lut(0));
  }
}

// ===========================================================================
// The worked examples, unit level.

TEST(SmearWorkedExamples, FirstExampleByteForByte)
{
  Bytes page = RowsPage(2, {128, 100});
  EXPECT_EQ(Smear(page, 2, 2, Lut(1)), kExample1);
  EXPECT_EQ(Model(page, 2, 2, Lut(1)), kExample1);
}

TEST(SmearWorkedExamples, SecondExampleWhiteAboveBlackClamps)
{
  Bytes page = RowsPage(2, {255, 0});
  EXPECT_EQ(Smear(page, 2, 2, Lut(1)), kExample2);
  EXPECT_EQ(Model(page, 2, 2, Lut(1)), kExample2);
}

TEST(SmearWorkedExamples, FirstExampleRedByteStepByStep)
{
  // Red byte of pixel 0, as the example computes it.
  const Bytes lut = Lut(1);
  EXPECT_EQ(lut[128], 108);
  EXPECT_EQ(lut[100], 124);
  EXPECT_EQ(lut[114], 116);
  const int32_t org = 124 * 1024, hist = 116 * 1024;
  const int32_t middle = org + (((org - hist) * 115) >> 10);
  EXPECT_EQ(middle, 127896);
  const int32_t shortS = middle + (((middle - hist) * 280) >> 10);
  EXPECT_EQ(shortS, 130387);
  EXPECT_EQ((shortS + (1067595299u & 0x3FF)) >> 10, 127);
  EXPECT_EQ(Smear(RowsPage(2, {128, 100}), 2, 2, lut)[10], 127);
}

// ===========================================================================
// SmearControl.

TEST(SmearControl, UniformPageKeepsItsCurveValueEverywhere)
{
  const unsigned w = 5, h = 650;  // past row 600: every long weight is used
  for (int mode : {0, 1})
  {
    const Bytes lut = Lut(mode);
    for (auto [r, g, b] : {std::tuple{128, 128, 128}, std::tuple{0, 0, 0}, std::tuple{30, 200, 254},
                           std::tuple{253, 1, 97}})
    {
      Bytes page(3 * w * h);
      for (size_t p = 0; p < (size_t)w * h; p++)
      {
        page[3 * p] = (unsigned char)r;
        page[3 * p + 1] = (unsigned char)g;
        page[3 * p + 2] = (unsigned char)b;
      }
      Bytes out = Smear(page, w, h, lut);
      const int expect[3] = {lut[512 + b], lut[256 + g], lut[r]};  // planes 0, 1, 2
      for (int plane = 0; plane < 3; plane++)
        for (size_t k = 0; k < (size_t)w * h; k++)
          ASSERT_EQ(out[plane * w * h + k], expect[plane]) << mode << " plane " << plane << " byte " << k;
    }
  }
}

TEST(SmearControl, WhitePageGivesZeros)
{
  for (int mode : {0, 1})
  {
    const unsigned w = 7, h = 40;
    Bytes out = Smear(Bytes(3 * w * h, 255), w, h, Lut(mode));
    EXPECT_EQ(out, Bytes(3 * w * h, 0)) << mode;
  }
}

TEST(SmearControl, OneRowPageIsTheCurveAndDrawsNothing)
{
  const unsigned w = 4;
  Bytes page = {0, 1, 2, 100, 128, 200, 253, 254, 255, 17, 99, 3};
  const Bytes lut = Lut(1);
  Bytes out = Smear(page, w, 1, lut);
  for (unsigned p = 0; p < w; p++)
  {
    EXPECT_EQ(out[p], lut[512 + page[3 * p + 2]]) << p;
    EXPECT_EQ(out[w + p], lut[256 + page[3 * p + 1]]) << p;
    EXPECT_EQ(out[2 * w + p], lut[page[3 * p]]) << p;
  }
  // The generator was seeded and nothing was drawn.
  EXPECT_EQ(genrand_int32(), 1067595299u);
}

TEST(SmearControl, DrawsOneNumberPerByteAfterTheFirstRow)
{
  const unsigned w = 3, h = 5;
  Smear(StructuredPage(w, h, 1), w, h, Lut(0));
  const uint32_t next = genrand_int32();
  const uint32_t key[4] = {0x123, 0x234, 0x345, 0x456};
  init_by_array(key, 4);
  for (unsigned n = 0; n < 3 * w * (h - 1); n++)
    genrand_int32();
  EXPECT_EQ(next, genrand_int32());
}

TEST(SmearControl, HeightZeroWritesNothing)
{
  Bytes out(12, 0x5A);
  Bytes src(12, 0), lut = Lut(1);
  EXPECT_EQ(SmearControl(src.data(), 2, 0, lut.data(), out.data()), 0);
  EXPECT_EQ(out, Bytes(12, 0x5A));
}

TEST(SmearControl, MatchesTheReferenceModel)
{
  const struct
  {
    unsigned w, h;
  } sizes[] = {{1, 1}, {1, 7}, {2, 3}, {3, 9}, {4, 30}, {5, 201}, {13, 60}, {6, 640}};
  uint32_t seed = 1;
  for (auto [w, h] : sizes)
    for (int mode : {0, 1})
    {
      Bytes page = StructuredPage(w, h, seed++);
      ASSERT_EQ(Smear(page, w, h, Lut(mode)), Model(page, w, h, Lut(mode))) << w << "x" << h << " mode " << mode;
    }
}

TEST(SmearControl, LongWeightOfEachRow)
{
  EXPECT_EQ(SpecLongWeight(1), 0);
  EXPECT_EQ(SpecLongWeight(8), 0);
  EXPECT_EQ(SpecLongWeight(9), 1);
  EXPECT_EQ(SpecLongWeight(300), 36);
  EXPECT_EQ(SpecLongWeight(599), 72);
  EXPECT_EQ(SpecLongWeight(600), 73);
  EXPECT_EQ(SpecLongWeight(5000), 73);

  // The real output is the model's, and a weight one off at any of these
  // rows shows in the bytes: a page white down to row r, whose row r is
  // grey (160), so that the long-term term at row r is large but the output
  // is not clamped.
  const Bytes lut = Lut(1);
  const unsigned w = 40;
  for (unsigned row : {1u, 8u, 9u, 300u, 599u, 600u, 601u})
  {
    std::vector<int> rows(row + 1, 255);
    rows[row] = 160;
    const Bytes page = RowsPage(w, rows);
    const Bytes out = Smear(page, w, row + 1, lut);
    ASSERT_EQ(out, Model(page, w, row + 1, lut)) << "row " << row;
    for (int delta : {-1, 1})
    {
      if (SpecLongWeight(row) + delta < 0)
        continue;
      ModelOptions o;
      o.longWeight = [=](unsigned j) { return SpecLongWeight(j) + (j == row ? delta : 0); };
      EXPECT_NE(out, Model(page, w, row + 1, lut, o)) << "row " << row << " weight " << SpecLongWeight(row) + delta;
    }
  }
}

// One red byte after a row-0 value a: what a weak and a strong step give
// (identity curve, row 1, first generator output).
int StepOutput(int a, int b, bool strong)
{
  const int32_t hist = ((a + b) / 2) * 1024, org = b * 1024;
  const int32_t middle = org + (((org - hist) * 115) >> 10);
  const int32_t s = middle + (((middle - hist) * (strong ? 730 : 280)) >> 10);
  const int32_t t = (s + (int32_t)(1067595299u & 0x3FF)) >> 10;
  return t < 0 ? 0 : t > 255 ? 255 : t;
}

TEST(SmearControl, ChangeOf39IsWeakAnd40Strong)
{
  const Bytes lut = IdentityLut();
  for (auto [a, b, strong] : {std::tuple{100, 139, false}, std::tuple{100, 140, true}, std::tuple{100, 61, false},
                              std::tuple{100, 60, true}})
  {
    ASSERT_NE(StepOutput(a, b, true), StepOutput(a, b, false)) << a << "->" << b;
    Bytes out = Smear(RowsPage(1, {a, b}), 1, 2, lut);
    EXPECT_EQ(out[2 * 2 + 1], StepOutput(a, b, strong)) << a << "->" << b;  // plane 2 (red), row 1
    EXPECT_EQ(out, Model(RowsPage(1, {a, b}), 1, 2, lut));
  }
}

TEST(SmearControl, StrongStrongWeakAndTheNewReference)
{
  // Rows: 0, then 200 three times (strong, strong, weak: the weak row makes
  // 200 the reference), 239 (39 from 200: weak), 0 (strong again).
  const std::vector<int> rows = {0, 200, 200, 200, 239, 0};
  const unsigned h = (unsigned)rows.size();
  const Bytes page = RowsPage(1, rows), lut = IdentityLut();
  std::vector<char> strong;
  const Bytes out = Smear(page, 1, h, lut);
  ASSERT_EQ(out, Model(page, 1, h, lut, {}, &strong));
  const char expect[] = {0, 1, 1, 0, 0, 1};
  for (unsigned j = 1; j < h; j++)
    for (unsigned i = 0; i < 3; i++)
      EXPECT_EQ(strong[j * 3 + i], expect[j]) << "row " << j << " byte " << i;
  ModelOptions three, one;
  three.maxStrongRun = 3;
  one.maxStrongRun = 1;
  EXPECT_NE(out, Model(page, 1, h, lut, three));
  EXPECT_NE(out, Model(page, 1, h, lut, one));
}

TEST(SmearControl, SmoothingLeavesTheEdgePixelsAlone)
{
  const unsigned h = 40;
  const Bytes lut = Lut(1);
  // Width 2: nothing is smoothed, each column goes its own way.
  {
    Bytes a = StructuredPage(2, h, 11), b = a;
    for (unsigned j = 0; j < h; j++)
      for (int c = 0; c < 3; c++)
        b[j * 6 + 3 + c] = (unsigned char)(255 - b[j * 6 + 3 + c]);  // pixel 1 changed
    Bytes outA = Smear(a, 2, h, lut), outB = Smear(b, 2, h, lut);
    EXPECT_EQ(Column(outA, 2, h, 0), Column(outB, 2, h, 0));
    EXPECT_EQ(outA, Model(a, 2, h, lut));
  }
  // Width 3: the first and the last pixel are never smoothed; the middle one is.
  {
    Bytes a = StructuredPage(3, h, 12), first = a, last = a;
    for (unsigned j = 0; j < h; j++)
      for (int c = 0; c < 3; c++)
      {
        first[j * 9 + c] = (unsigned char)(255 - first[j * 9 + c]);
        last[j * 9 + 6 + c] = (unsigned char)(255 - last[j * 9 + 6 + c]);
      }
    Bytes outA = Smear(a, 3, h, lut), outFirst = Smear(first, 3, h, lut), outLast = Smear(last, 3, h, lut);
    EXPECT_EQ(Column(outA, 3, h, 2), Column(outFirst, 3, h, 2));
    EXPECT_EQ(Column(outA, 3, h, 0), Column(outLast, 3, h, 0));
    EXPECT_NE(Column(outA, 3, h, 1), Column(outFirst, 3, h, 1));
    EXPECT_NE(Column(outA, 3, h, 1), Column(outLast, 3, h, 1));
    EXPECT_EQ(outA, Model(a, 3, h, lut));
  }
}

TEST(SmearControl, FirstRowAverageCoversTheFirst200Rows)
{
  const unsigned w = 2, h = 260;
  const Bytes lut = Lut(1);
  Bytes page = StructuredPage(w, h, 21);
  Bytes late = page, row199 = page;
  for (size_t i = 0; i < 3 * w; i++)
  {
    for (unsigned j = 200; j < h; j++)
      late[j * 3 * w + i] = (unsigned char)(255 - late[j * 3 * w + i]);
    row199[199 * 3 * w + i] = row199[199 * 3 * w + i] < 128 ? 255 : 0;
  }
  Bytes out = Smear(page, w, h, lut), outLate = Smear(late, w, h, lut), outRow199 = Smear(row199, w, h, lut);
  auto rowsBefore = [&](const Bytes &o, unsigned rows) {
    Bytes r;
    for (int plane = 0; plane < 3; plane++)
      r.insert(r.end(), o.begin() + plane * w * h, o.begin() + plane * w * h + rows * w);
    return r;
  };
  // Rows 200 and later do not reach the histories' start ...
  EXPECT_EQ(rowsBefore(out, 200), rowsBefore(outLate, 200));
  // ... row 199 does, and so changes rows before it.
  EXPECT_NE(rowsBefore(out, 199), rowsBefore(outRow199, 199));
  EXPECT_EQ(out, Model(page, w, h, lut));
}

TEST(SmearControl, NegativeIntermediatesShiftTowardMinusInfinity)
{
  EXPECT_EQ(-1 >> 10, -1);
  // Light rows after dark ones push the values below zero.
  const unsigned w = 3;
  std::vector<int> rows;
  for (int k = 0; k < 6; k++)
  {
    rows.insert(rows.end(), 5, 0);
    rows.insert(rows.end(), 5, 255);
    rows.insert(rows.end(), 5, 128);
  }
  const unsigned h = (unsigned)rows.size();
  Bytes page = RowsPage(w, rows);
  const Bytes lut = Lut(1);
  Bytes out = Smear(page, w, h, lut);
  EXPECT_EQ(out, Model(page, w, h, lut));
  ModelOptions truncating;
  truncating.floorShift = false;
  EXPECT_NE(out, Model(page, w, h, lut, truncating));
}

TEST(SmearControl, SameBytesEveryTime)
{
  const unsigned w = 9, h = 33;
  const Bytes page = StructuredPage(w, h, 31), lut = Lut(0);
  Bytes first = Smear(page, w, h, lut);
  for (int n = 0; n < 1000; n++)
    genrand_int32();  // wherever the generator was left
  init_genrand(7);
  EXPECT_EQ(Smear(page, w, h, lut), first);
}

TEST(SmearControl, PageWiderThan3764Pixels)
{
  const unsigned w = 4000, h = 5;
  const Bytes page = StructuredPage(w, h, 41), lut = Lut(1);
  Bytes out = Smear(page, w, h, lut);
  EXPECT_EQ(out, Smear(page, w, h, lut));
  EXPECT_EQ(out, Model(page, w, h, lut));
}

// In a process whose address space is too small for the working arrays of
// a very wide page (of 0 rows, so that the page itself needs no bytes).
int SmearWithLittleMemory()
{
  struct rlimit limit;
  limit.rlim_cur = limit.rlim_max = 512u << 20;
  setrlimit(RLIMIT_AS, &limit);
  unsigned char src[1] = {0}, out[1] = {0x5A};
  Bytes lut = Lut(1);
  int status = SmearControl(src, 100000000u, 0, lut.data(), out);
  return status == kStageNoMemory && out[0] == 0x5A ? 0 : 1;
}

TEST(SmearControl, AllocationFailureIsReported)
{
  // In a fresh process (the threadsafe death-test style re-runs this binary).
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(SmearWithLittleMemory()), testing::ExitedWithCode(0), "");
}

// ===========================================================================
// Through the filter.

std::vector<PageBlocks> PrintJob(const TempDir &dir, const std::vector<RasterPage> &pages,
                                 const std::optional<std::string> &printMode)
{
  const std::string ras = dir.File("job.ras");
  WriteRaster(ras, pages);
  FilterInvocation inv{.file = ras};
  if (printMode)
  {
    inv.ppd = dir.File("kelvo.ppd");
    WritePpd(*inv.ppd, {{"PrintMode", *printMode}});
  }
  FilterResult r = RunFilter(inv);
  EXPECT_EQ(r.status, 0) << r.err;
  return SplitPages(r.out);
}

TEST(SmearFilter, WorkedExamplesWithPrintMode1)
{
  TempDir dir;
  std::vector<PageBlocks> pages =
      PrintJob(dir, {RgbPageFrom(2, 2, RowsPage(2, {128, 100})), RgbPageFrom(2, 2, RowsPage(2, {255, 0}))}, "1");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].data, kExample1);
  EXPECT_EQ(pages[1].data, kExample2);
}

TEST(SmearFilter, PrintModePicksTheTable)
{
  TempDir dir;
  const RasterPage grey = RgbPage(4, 3, [](unsigned, unsigned, unsigned char *p) { p[0] = p[1] = p[2] = 128; });
  auto planes = [](int b, int g, int r) {  // 12 pixels a plane
    Bytes d(12, (unsigned char)b);
    d.insert(d.end(), 12, (unsigned char)g);
    d.insert(d.end(), 12, (unsigned char)r);
    return d;
  };
  for (auto [mode, expect] : {std::pair{std::optional<std::string>{}, planes(114, 120, 116)},
                              std::pair{std::optional<std::string>{"0"}, planes(114, 120, 116)},
                              std::pair{std::optional<std::string>{"1"}, planes(105, 111, 108)},
                              std::pair{std::optional<std::string>{"2"}, planes(105, 111, 108)}})
  {
    std::vector<PageBlocks> pages = PrintJob(dir, {grey}, mode);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].data, expect) << mode.value_or("no PPD");
  }
}

TEST(SmearFilter, TwoPagesAndTwoRunsGiveTheSameBytes)
{
  TempDir dir;
  const unsigned w = 23, h = 31;
  const Bytes image = StructuredPage(w, h, 51);
  const RasterPage page = RgbPageFrom(w, h, image);
  std::vector<PageBlocks> first = PrintJob(dir, {page, page}, "1");
  std::vector<PageBlocks> second = PrintJob(dir, {page, page}, "1");
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(first[0].data, first[1].data);
  EXPECT_EQ(first[0].data, second[0].data);
  EXPECT_EQ(first[1].data, second[1].data);
  EXPECT_EQ(first[0].data, Smear(image, w, h, Lut(1)));
}

TEST(SmearFilter, WidePageIsSmearedWhole)
{
  TempDir dir;
  const unsigned w = 4000, h = 3;
  const Bytes image = StructuredPage(w, h, 61);
  std::vector<PageBlocks> pages = PrintJob(dir, {RgbPageFrom(w, h, image)}, "0");
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].data, Smear(image, w, h, Lut(0)));
}

}  // namespace
