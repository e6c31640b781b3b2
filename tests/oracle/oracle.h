// The straightforward version of every image stage and of the generator,
// the reference the filter's stages are compared with byte for byte (the
// differential tests, the benchmarks).  Each behaves exactly as the stage
// of the same name without "Oracle".
#pragma once

#include <cstdint>

void OracleBuildColorTable(unsigned char *colortable, int bdat, int gdat, int rdat, int contrast, int stp_saturation);
void OracleColorCorrection(unsigned char *lpdt, int width, unsigned char *colortable, int bTableRet,
                           unsigned char *DmapTbl);
int OracleChange3D(unsigned char *DmapTbl, unsigned char *Red, unsigned char *Green, unsigned char *Blue);
int OracleResizePicture(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX, int iMagnificationY);
int OracleResizePictureAverage(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX,
                               int iMagnificationY);
int OraclePicytureSharpness(int biWidth, int biHeight, unsigned char *lpBits, int bSharpness);
int OracleGetSmearlut(unsigned char *hotlut, int iGammaMode);
// Smear control with the reference generator below.
int OracleSmearControl(unsigned char *pSrcBitmap, unsigned int biWidth, unsigned int biHeight,
                       unsigned char *lpToneCurve, unsigned char *pSendData);
void OracleInitByArray(const uint32_t init_key[], int key_length);
uint32_t OracleGenrandInt32();
