// Resizing of the page picture: enlargement around the centre and
// reduction onto a white page.  The page keeps its size in pixels.
#pragma once

// Enlarge by the given percentages (+10 means 110 %) with bilinear
// interpolation, keeping the centre.  Returns 0, or kStageNoMemory.
int ResizePicture(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX,
                  int iMagnificationY);

// Reduce by the given (negative) percentages by exact area averaging and
// centre the result on white.  Returns 0, or kStageNoMemory.
int ResizePictureAverage(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX,
                         int iMagnificationY);

// Least common multiple of two positive integers.
long long CalcLCM(long long a, long long b);

int min(int x, int y);
int max(int x, int y);
