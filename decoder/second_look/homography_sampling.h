// Module space to image through a plane homography, and grey samples taken there. Module space puts
// (0, 0) at the top-left outer corner of the upright symbol, x counting columns rightward and y rows
// downward, so the centre of module (row r, column c) is (c + 0.5, r + 0.5).
#ifndef QUARNEL_DECODER_SECOND_LOOK_HOMOGRAPHY_SAMPLING_H_
#define QUARNEL_DECODER_SECOND_LOOK_HOMOGRAPHY_SAMPLING_H_

#include <opencv2/core/core_c.h>

// The four outer corners of an upright symbol in image pixels (pixel centres on whole numbers).
struct SymbolQuad {
  CvPoint2D64f topLeft;      // far end of the vertical finder leg
  CvPoint2D64f topRight;     // where the two timing edges meet
  CvPoint2D64f bottomRight;  // far end of the horizontal finder leg
  CvPoint2D64f bottomLeft;   // the finder vertex
};

// x = (a u + b v + c) / (g u + h v + 1), y = (d u + e v + f) / (g u + h v + 1), with u and v the module
// coordinates already divided by the column and row counts.
struct ModuleHomography {
  double a, b, c, d, e, f, g, h;
  double columnScale, rowScale;  // 1 / columns, 1 / rows
};

// The homography that takes the columns x rows module space onto quad. False when the quad is
// degenerate (three corners on a line, or the far corner folds it over).
bool homographyForQuad(const SymbolQuad& quad, int columns, int rows, ModuleHomography* homography);

CvPoint2D64f moduleToImage(const ModuleHomography& homography, double x, double y);

// Bilinear grey value at an image point; negative when the point lies outside the image.
double sampleGrey(const IplImage* grey, CvPoint2D64f point);

// Grey value of the module centred at (x, y) in module space: the mean of its centre and four points a
// fifth of a module towards its corners, so that one noisy pixel weighs less. Negative when any point
// lies outside the image.
double sampleModule(const IplImage* grey, const ModuleHomography& homography, double x, double y);

#endif  // QUARNEL_DECODER_SECOND_LOOK_HOMOGRAPHY_SAMPLING_H_
