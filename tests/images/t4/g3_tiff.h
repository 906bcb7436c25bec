// TIFF tags of a one-strip Group 3 one-dimensional page as APF carries it:
// least significant bit first (FillOrder 2), 1 = black (min-is-white).
#pragma once

#include <tiffio.h>

#include <cstdint>

namespace tv::testpages {

inline void SetG3Tags(TIFF* tif, int width, int height) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
}

}  // namespace tv::testpages
