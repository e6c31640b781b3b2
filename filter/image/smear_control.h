// Smear control: turns the finished RGB page into the printer's three
// planes through the print mode's tone curve, decaying per-column
// histories and a random dither.
#pragma once

constexpr int kSmearLutBytes = 768;

// Fill hotlut (red, green, blue curves of 256 bytes) from the built-in table
// of the print mode (0 soft, anything else normal).  Returns 1.
int GetSmearlut(unsigned char *hotlut, int iGammaMode);

// Convert the page image into 3 * biWidth * biHeight bytes of printer data.
// Returns 0, or kStageNoMemory when the working arrays cannot be had.
int SmearControl(unsigned char *pSrcBitmap, unsigned int biWidth, unsigned int biHeight,
                 unsigned char *lpToneCurve, unsigned char *pSendData);
