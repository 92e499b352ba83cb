// Straight lines in image pixels and the operations every decoder stage shares.
#ifndef QUARNEL_DECODER_GEOMETRY_H_
#define QUARNEL_DECODER_GEOMETRY_H_

#include <opencv2/core/types_c.h>

// Kinds of EdgeLine. Steep lines are written as x of y so that no slope exceeds 1 in magnitude.
enum EdgeLineKind {
  LINE_Y_FROM_X = 1,  // y = slope * x + intercept
  LINE_X_FROM_Y = 2,  // x = slope * y + intercept
};

struct EdgeLine {
  int kind;
  float slope;
  float intercept;
};

// Euclidean distance, always in double precision: every distance that is compared is computed this way.
double pointDistance(CvPoint2D32f p, CvPoint2D32f q);
double pointDistance(CvPoint p, CvPoint q);

// The line through p and q; x-from-y when the line is steeper than 45 degrees. Coincident points give a
// horizontal line through them rather than a slope of 0/0.
EdgeLine lineThroughPoints(CvPoint2D32f p, CvPoint2D32f q);

// The line of the given kind and slope through point.
EdgeLine parallelThrough(int kind, float slope, CvPoint2D32f point);

// Intersection of two lines; false, with *point untouched, when they are nearly parallel.
bool intersectLines(const EdgeLine& l1, const EdgeLine& l2, CvPoint2D32f* point);

// Moves point by distance along line, in the direction of reference on each axis.
CvPoint2D32f stepToward(const EdgeLine& line, float distance, CvPoint2D32f point, CvPoint2D32f reference);

#endif  // QUARNEL_DECODER_GEOMETRY_H_
