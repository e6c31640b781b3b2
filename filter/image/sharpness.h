// Sharpening: a 5 x 5 unsharp mask with a gentler weight for skin tones.
#pragma once

// Sharpen the picture in place at level bSharpness (-4 and below: off).
// Returns 0, or kStageNoMemory when the scratch picture cannot be had.
int PicytureSharpness(int biWidth, int biHeight, unsigned char *lpBits, int bSharpness);
