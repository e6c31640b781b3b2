// Resizing of the page picture: enlargement around the centre and
// reduction onto a white page.  The page keeps its size in pixels.
#pragma once

// Enlarge by the given percentages (+10 means 110 %) with bilinear
// interpolation, keeping the centre.  A negative percentage, or a picture
// under 3 pixels in either direction, leaves the picture as it is.
// Returns 0, or kStageNoMemory.
int ResizePicture(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX,
                  int iMagnificationY);

// Reduce by the given (negative) percentages by exact area averaging and
// centre the result on white; a reduced size under 1 pixel is taken as 1.
// A positive percentage leaves the picture as it is.  Returns 0, or
// kStageNoMemory.
int ResizePictureAverage(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX,
                         int iMagnificationY);

// Least common multiple of two positive integers, by adding the smaller
// until the larger divides the sum; 0 when either is not positive.
long long CalcLCM(long long a, long long b);

int min(int x, int y);
int max(int x, int y);
