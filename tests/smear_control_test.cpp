// Smear control: the built-in smear tables, GetSmearlut, the worked
// examples byte for byte (unit level and through the filter), and each rule
// of SmearControl pinned on a page built to show it.  Tests/oracle holds the
// straightforward version that the differential test compares with on
// random pages; the exact values here keep both of them honest.
#include "image/smear_control.h"
#include "page_buffers.h"
#include "random/mt19937ar.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

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

// The output column of pixel p in every plane, row by row.
Bytes Column(const Bytes &out, unsigned w, unsigned h, unsigned p)
{
  Bytes col;
  for (unsigned plane = 0; plane < 3; plane++)
    for (unsigned j = 0; j < h; j++)
      col.push_back(out[plane * (size_t)w * h + j * (size_t)w + p]);
  return col;
}

TEST(SmearTables, CalibratedRowsEndsAndShape)
{
  // Input, then normal blue, green, red and soft blue, green, red.
  const struct
  {
    int input, normal[3], soft[3];
  } rows[] = {
      {0, {215, 221, 218}, {215, 221, 218}},   {32, {175, 182, 178}, {177, 180, 176}},
      {64, {145, 152, 148}, {150, 154, 148}},  {96, {124, 130, 127}, {132, 135, 130}},
      {128, {105, 111, 108}, {114, 120, 116}}, {160, {87, 96, 93}, {100, 106, 102}},
      {192, {69, 83, 79}, {84, 94, 89}},       {224, {60, 71, 66}, {69, 81, 77}},
      {240, {53, 63, 60}, {59, 71, 67}},       {248, {46, 55, 52}, {46, 58, 55}},
      {252, {39, 48, 44}, {35, 47, 44}},       {253, {37, 45, 41}, {32, 44, 41}},
      {254, {19, 23, 21}, {16, 22, 21}},       {255, {0, 0, 0}, {0, 0, 0}},
  };
  for (const auto &row : rows)
    for (int s = 0; s < 3; s++)
    {
      EXPECT_EQ(HVX_A4_Normal[256 * s + row.input], row.normal[s]) << "section " << s << " input " << row.input;
      EXPECT_EQ(HVX_A4_Normal_Soft[256 * s + row.input], row.soft[s]) << "section " << s << " input " << row.input;
    }
  // Normal entries the first worked example states (red) or implies
  // (blue and green, solved by tools/gen_smear_tables.py).
  for (auto [section, input, value] : {std::tuple{2, 100, 124}, {2, 114, 116}, {2, 127, 109}, {0, 100, 121},
                                       {0, 114, 113}, {1, 100, 127}, {1, 114, 119}})
    EXPECT_EQ(HVX_A4_Normal[256 * section + input], value) << section << " " << input;

  // Between the rows: falling, 0 only at 255, with the steep drop at the end.
  for (const unsigned char *table : {HVX_A4_Normal, HVX_A4_Normal_Soft})
    for (int s = 0; s < 3; s++)
    {
      const unsigned char *sec = table + 256 * s;
      for (int x = 0; x < 255; x++)
      {
        EXPECT_GE(sec[x], sec[x + 1]) << "section " << s << " rises at " << x;
        EXPECT_GT(sec[x], 0) << "section " << s << " is 0 at " << x;
      }
      EXPECT_GE(sec[253] - sec[255], 30) << s;
    }
}

TEST(GetSmearlut, PrintModePicksTheTableInPixelOrder)
{
  for (int mode : {0, 1, 2, -1, 100})
    for (unsigned char fill : {0x00, 0xAA, 0xFF})
    {
      Bytes lut(kSmearLutBytes, fill);
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
}

TEST(SmearControl, WorkedExamplesByteForByte)
{
  EXPECT_EQ(Smear(RowsPage(2, {128, 100}), 2, 2, Lut(1)), kExample1);
  // White above black: the jump clamps.
  EXPECT_EQ(Smear(RowsPage(2, {255, 0}), 2, 2, Lut(1)), kExample2);
}

TEST(SmearControl, UniformPageKeepsItsCurveValueEverywhere)
{
  const unsigned w = 5, h = 650;  // past row 600: every long weight is used
  for (int mode : {0, 1})
  {
    const Bytes lut = Lut(mode);
    for (auto [r, g, b] : {std::tuple{128, 128, 128}, {0, 0, 0}, {255, 255, 255}, {30, 200, 254}, {253, 1, 97}})
    {
      Bytes page(3 * w * h);
      for (size_t p = 0; p < (size_t)w * h; p++)
        page[3 * p] = (unsigned char)r, page[3 * p + 1] = (unsigned char)g, page[3 * p + 2] = (unsigned char)b;
      Bytes out = Smear(page, w, h, lut);
      const int expect[3] = {lut[512 + b], lut[256 + g], lut[r]};  // planes 0, 1, 2
      for (int plane = 0; plane < 3; plane++)
        for (size_t k = 0; k < (size_t)w * h; k++)
          ASSERT_EQ(out[plane * w * h + k], expect[plane]) << mode << " plane " << plane << " byte " << k;
    }
  }
}

// Row 0 is the curve alone; every later byte draws one number from the
// generator, which each call seeds afresh; a page of no rows writes nothing.
TEST(SmearControl, FirstRowAndTheGenerator)
{
  const unsigned w = 4;
  const Bytes page = {0, 1, 2, 100, 128, 200, 253, 254, 255, 17, 99, 3}, lut = Lut(1);
  init_genrand(7);
  Bytes out = Smear(page, w, 1, lut);
  for (unsigned p = 0; p < w; p++)
  {
    EXPECT_EQ(out[p], lut[512 + page[3 * p + 2]]) << p;
    EXPECT_EQ(out[w + p], lut[256 + page[3 * p + 1]]) << p;
    EXPECT_EQ(out[2 * w + p], lut[page[3 * p]]) << p;
  }
  EXPECT_EQ(genrand_int32(), 1067595299u) << "seeded, nothing drawn";

  Smear(RandomBytes(3 * 3 * 5, 1), 3, 5, Lut(0));
  const uint32_t next = genrand_int32();
  const uint32_t key[4] = {0x123, 0x234, 0x345, 0x456};
  init_by_array(key, 4);
  for (unsigned n = 0; n < 3 * 3 * (5 - 1); n++)
    genrand_int32();
  EXPECT_EQ(next, genrand_int32());

  Bytes none(12, 0x5A), src(12, 0);
  Bytes curve = lut;
  EXPECT_EQ(SmearControl(src.data(), 2, 0, curve.data(), none.data()), 0);
  EXPECT_EQ(none, Bytes(12, 0x5A));
}

// The long-term weight is 73 * j / 600 at row j, 73 from row 600 on.  A page
// white down to row r, whose row r is grey (160): the long-term term at
// row r is large but the output is not clamped, and a weight one off at
// row r moves the sums of that row in every case.
TEST(SmearControl, LongWeightOfEachRow)
{
  const Bytes lut = Lut(1);
  const unsigned w = 40;
  const struct
  {
    unsigned row;
    int sums[3];  // of row r in planes 0, 1, 2
  } cases[] = {{1, {4277, 4491, 4441}},   {8, {6257, 6878, 6670}},   {9, {6321, 6938, 6729}},
               {300, {6862, 7571, 7333}}, {599, {7093, 7827, 7586}}, {600, {7109, 7838, 7590}},
               {601, {7100, 7838, 7592}}};
  for (const auto &c : cases)
  {
    std::vector<int> rows(c.row + 1, 255);
    rows[c.row] = 160;
    const unsigned h = c.row + 1;
    const Bytes out = Smear(RowsPage(w, rows), w, h, lut);
    for (int plane = 0; plane < 3; plane++)
    {
      int sum = 0;
      for (unsigned x = 0; x < w; x++)
        sum += out[plane * (size_t)w * h + c.row * w + x];
      EXPECT_EQ(sum, c.sums[plane]) << "row " << c.row << " plane " << plane;
    }
  }
}

TEST(SmearControl, StrongAndWeakSteps)
{
  // A change of 40 or more from the reference is a strong step (short
  // weight 730), 39 a weak one (280): the red byte of row 1 after 100,
  // identity curve, first generator output.
  for (auto [b, red] : {std::pair{139, 147}, {140, 158}, {61, 53}, {60, 42}})
    EXPECT_EQ(Smear(RowsPage(1, {100, b}), 1, 2, IdentityLut())[2 * 2 + 1], red) << "100 -> " << b;

  // Rows 0, then 200 three times (strong, strong, then weak: at most two
  // strong steps in a row, and the weak row makes 200 the reference), 239
  // (39 from 200: weak), 0 (strong again).  One strong step in a row, or
  // three, would give other bytes in rows 2 and 3.
  const Bytes plane = {0, 255, 237, 214, 255, 0};
  Bytes expect;
  for (int p = 0; p < 3; p++)
    expect.insert(expect.end(), plane.begin(), plane.end());
  EXPECT_EQ(Smear(RowsPage(1, {0, 200, 200, 200, 239, 0}), 1, 6, IdentityLut()), expect);
}

// At width 3 the first and the last pixel are never smoothed with their
// neighbours; the middle one is.
TEST(SmearControl, SmoothingLeavesTheEdgePixelsAlone)
{
  const unsigned h = 40;
  const Bytes lut = Lut(1);
  Bytes a = RandomBytes(3 * 3 * h, 12), first = a, last = a;
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
}

TEST(SmearControl, FirstRowAverageCoversTheFirst200Rows)
{
  const unsigned w = 2, h = 260;
  const Bytes lut = Lut(1);
  Bytes page = RandomBytes(3 * w * h, 21);
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
}

TEST(SmearControl, NegativeIntermediatesShiftTowardMinusInfinity)
{
  // Light rows after dark ones push the values below zero; shifts that
  // truncated toward zero would give 166 and 177 at these two bytes.
  const unsigned w = 3;
  std::vector<int> rows;
  for (int k = 0; k < 6; k++)
    for (int v : {0, 255, 128})
      rows.insert(rows.end(), 5, v);
  const unsigned h = (unsigned)rows.size();
  const Bytes out = Smear(RowsPage(w, rows), w, h, Lut(1));
  EXPECT_EQ(out[0 * w * h + 70 * w + 1], 165);  // plane 0, row 70, pixel 1
  EXPECT_EQ(out[1 * w * h + 85 * w + 0], 176);  // plane 1, row 85, pixel 0
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
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address-space limits do not mix with AddressSanitizer";
#endif
#if defined(KELVO_EMULATED)
  GTEST_SKIP() << "qemu-user does not apply address-space limits";
#endif
  // In a fresh process (the threadsafe death-test style re-runs this binary).
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(SmearWithLittleMemory()), testing::ExitedWithCode(0), "");
}

// Through the filter, with PrintMode 1 from the PPD (the table each
// PrintMode picks in a job: pipeline_test.cpp).
TEST(SmearFilter, WorkedExamples)
{
  TempDir dir;
  const std::string ras = dir.File("job.ras"), ppd = dir.File("kelvo.ppd");
  WriteRaster(ras, {RgbPageFrom(2, 2, RowsPage(2, {128, 100})), RgbPageFrom(2, 2, RowsPage(2, {255, 0}))});
  WritePpd(ppd, {{"PrintMode", "1"}});
  FilterResult r = RunFilter({.file = ras, .ppd = ppd});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<PageBlocks> pages = SplitPages(r.out);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].data, kExample1);
  EXPECT_EQ(pages[1].data, kExample2);
}

}  // namespace
