// Row-parallel work for the image stages whose rows are independent: the
// rows are cut into contiguous bands, one per thread, the calling thread
// taking the first.  Every band is worked exactly as a single thread would
// work it, so the bytes never depend on the number of threads.  Also the
// hand-over of finished rows from one thread to another.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <thread>
#include <utility>

// Threads the stages may use.  0 (the start) means automatic: the
// KELVO_THREADS environment variable when it is a number from 1 up, else
// the machine's cores, never more than its cores.  A number from 1 up is
// taken as it is (tests use more bands than cores to exercise the band
// edges).
void SetStageThreads(int threads);

// The number of threads the next stage will use.
int StageThreads();

// Number of bands for rows rows: the stage threads, fewer when a band
// would hold under minRows rows, at least 1.
int BandCount(int rows, int minRows);

// First row of band b of bands (b = bands gives rows).
int BandStart(int rows, int bands, int b);

// Call work(b) for b = 0..bands-1, each on its own thread (band 0 on the
// calling thread).  A thread that cannot be started leaves its band to the
// calling thread.  work must not throw.
void RunBands(int bands, const std::function<void(int band)> &work);

// Call work(begin, end) over the BandCount(rows, minRows) bands of rows
// 0..rows-1.
void ParallelRows(int rows, int minRows, const std::function<void(int begin, int end)> &work);


// Rows of a picture made final in order by one thread and read by one
// other thread: Publish(n) says rows 0..n-1 are final (their bytes are
// visible to the reader once WaitFor has returned n or more).  The waiter
// says how many rows it waits for, and only a Publish that reaches that
// number wakes it, so a reader that has caught up sleeps through a batch of
// rows instead of waking for each.
class RowProgress
{
public:
  void Publish(int rows)
  {
    ready_.store(rows);
    if (rows >= wanted_.load())
      ready_.notify_one();
  }

  // Blocks until at least rows rows are final; returns how many are.
  int WaitFor(int rows)
  {
    int now = ready_.load();
    if (now >= rows)
      return now;
    // Sequentially consistent: either Publish sees the new wanted_ and
    // wakes us, or we see its rows and do not sleep.
    wanted_.store(rows);
    for (now = ready_.load(); now < rows; now = ready_.load())
      ready_.wait(now);
    wanted_.store(kNobody);
    return now;
  }

private:
  static constexpr int kNobody = 0x7FFFFFFF;
  std::atomic<int> ready_{0};
  std::atomic<int> wanted_{kNobody};
};

// Start work on a new thread; false (and nothing started) when no thread
// can be had, so that the caller does the work itself.
template <class F> bool StartThread(std::thread &thread, F &&work)
{
  try
  {
    thread = std::thread(std::forward<F>(work));
    return true;
  }
  catch (const std::exception &)
  {
    return false;
  }
}
