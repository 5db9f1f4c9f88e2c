#pragma once
// The one EXIF field a thumbnail needs: the orientation a camera stored its picture in.

#include <string_view>

/// The orientation (1 to 8) that the EXIF block of a JPEG file states (the APP1 "Exif" segment,
/// tag 0x0112 of its first image directory); 1 when there is none, or it is damaged or out of
/// range. Reads only inside data. Any thread.
int JpegExifOrientation(std::string_view jpeg);

/// The orientation that a TIFF-structured EXIF block (beginning with "II" or "MM") states, as
/// above. Any thread.
int TiffOrientation(std::string_view tiff);
