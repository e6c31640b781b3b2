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

void ParallelRows(int rows, int minRows, const std::function<void(int begin, int end)> &work)
{
  if (rows <= 0)
    return;
  if (minRows < 1)
    minRows = 1;
  int bands = StageThreads();
  if (bands > rows / minRows)
    bands = rows / minRows;
  if (bands <= 1)
  {
    work(0, rows);
    return;
  }

  auto bandStart = [rows, bands](int b) { return (int)((long long)rows * b / bands); };
  std::vector<std::thread> threads;
  std::vector<int> leftOver;
  threads.reserve(bands - 1);
  for (int b = 1; b < bands; b++)
  {
    try
    {
      threads.emplace_back(work, bandStart(b), bandStart(b + 1));
    }
    catch (const std::system_error &)
    {
      leftOver.push_back(b);
    }
  }
  work(bandStart(0), bandStart(1));
  for (int b : leftOver)
    work(bandStart(b), bandStart(b + 1));
  for (std::thread &t : threads)
    t.join();
}
