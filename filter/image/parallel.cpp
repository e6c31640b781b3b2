// Row bands on threads: see parallel.h.
#include "parallel.h"

#include <cstdlib>
#include <exception>
#include <thread>

namespace {

constexpr int kMaxThreads = 64;
int gThreads = 0;

int Cores()
{
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n > kMaxThreads ? kMaxThreads : (int)n;
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

void SetStageThreads(int threads) { gThreads = threads < 0 ? 0 : threads > kMaxThreads ? kMaxThreads : threads; }

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
  const int onThreads = bands < kMaxThreads ? bands : kMaxThreads;
  // Each thread is started on its own; a band whose thread cannot be had
  // (no memory, a process limit) is worked here after band 0.  Nothing
  // here allocates but the threads themselves.
  std::thread threads[kMaxThreads];
  for (int b = 1; b < onThreads; b++)
  {
    try
    {
      threads[b] = std::thread(work, b);
    }
    catch (const std::exception &)
    {
    }
  }
  work(0);
  for (int b = 1; b < bands; b++)
  {
    if (b < onThreads && threads[b].joinable())
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
