// Row-parallel work for the image stages whose rows are independent: the
// rows are cut into contiguous bands, one per thread, the calling thread
// taking the first.  Every band is worked exactly as a single thread would
// work it, so the bytes never depend on the number of threads.
#pragma once

#include <functional>

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
