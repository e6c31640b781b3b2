// Row bands on threads: see parallel.h.
#include "parallel.h"

#include <cstdlib>
#include <system_error>
#include <thread>
#include <vector>

namespace {

int gThreads = 0;

int Cores()
{
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n > 64 ? 64 : (int)n;
}

int AutomaticThreads()
{
  const int cores = Cores();
  if (const char *env = getenv("KELVO_THREADS"))
  {
    const long n = strtol(env, nullptr, 10);
    if (n >= 1)
      return n < cores ? (int)n : cores;
  }
  return cores;
}

}  // namespace

void SetStageThreads(int threads) { gThreads = threads < 0 ? 0 : threads > 64 ? 64 : threads; }

int StageThreads() { return gThreads > 0 ? gThreads : AutomaticThreads(); }

int BandCount(int rows, int minRows)
{
  if (minRows < 1)
    minRows = 1;
  int bands = StageThreads();
  if (bands > rows / minRows)
    bands = rows / minRows;
  return bands < 1 ? 1 : bands;
}

int BandStart(int rows, int bands, int b) { return (int)((long long)rows * b / bands); }

void RunBands(int bands, const std::function<void(int band)> &work)
{
  if (bands <= 1)
  {
    work(0);
    return;
  }
  // Each thread is started on its own; one that cannot be had (no memory,
  // a process limit) is worked here after band 0.
  std::vector<std::thread> threads(bands);
  std::vector<bool> started(bands, false);
  for (int b = 1; b < bands; b++)
  {
    try
    {
      threads[b] = std::thread(work, b);
      started[b] = true;
    }
    catch (const std::system_error &)
    {
    }
  }
  work(0);
  for (int b = 1; b < bands; b++)
  {
    if (started[b])
      threads[b].join();
    else
      work(b);
  }
}

void ParallelRows(int rows, int minRows, const std::function<void(int begin, int end)> &work)
{
  if (rows <= 0)
    return;
  const int bands = BandCount(rows, minRows);
  RunBands(bands, [&](int b) { work(BandStart(rows, bands, b), BandStart(rows, bands, b + 1)); });
}
