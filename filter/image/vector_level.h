// Processor-specific versions of the image stages.  A stage may carry a
// portable version and versions built for AVX2 and AVX-512 (x86-64), all
// giving the same bytes; each call picks the widest the processor offers,
// up to a limit that the tests lower to run every version this processor
// has against the same pages.
#pragma once

enum VectorLevel
{
  kVectorPortable = 0,
  kVectorAvx2 = 1,
  kVectorAvx512 = 2,
};

// The widest version later calls may use.  It starts at the level the
// KELVO_VECTOR_LEVEL environment variable names (portable, avx2 or avx512),
// read once as the program starts, else at kVectorAvx512, which lets them
// use all the processor has; a limit never raises a stage above the
// processor's level.  Not to be changed while a stage runs.
void SetVectorLimit(int level);
int VectorLimit();

// The widest level this processor offers to every stage: kVectorAvx512
// with AVX-512 F, BW, VL, DQ and VBMI, kVectorAvx2 with AVX2, else
// kVectorPortable (always on other processors).
int ProcessorVectorLevel();

// The level a stage starting now uses: the processor's, within the limit.
int StageVectorLevel();

// The level of a name: "portable", "avx2" or "avx512"; -1 for any other
// (or null).
int VectorLevelFromName(const char *name);

// The name of a level, as VectorLevelFromName takes it.
const char *VectorLevelName(int level);
