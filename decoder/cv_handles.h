// Owners for the image library's handles: each deleter makes the very release call the code would
// make by hand, so every exit path, an error thrown by the library included, releases a handle once.
#ifndef QUARNEL_DECODER_CV_HANDLES_H_
#define QUARNEL_DECODER_CV_HANDLES_H_

#include <memory>
#include <type_traits>

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

struct ImageRelease {
  void operator()(IplImage* image) const { cvReleaseImage(&image); }
};
using ImageHandle = std::unique_ptr<IplImage, ImageRelease>;

struct HistogramRelease {
  void operator()(CvHistogram* histogram) const { cvReleaseHist(&histogram); }
};
using HistogramHandle = std::unique_ptr<CvHistogram, HistogramRelease>;

struct StorageRelease {
  void operator()(CvMemStorage* storage) const { cvReleaseMemStorage(&storage); }
};
using StorageHandle = std::unique_ptr<CvMemStorage, StorageRelease>;

// A contour scan that has not been ended; ending it through the handle throws away what it found.
struct ContourScanEnd {
  void operator()(CvContourScanner scanner) const { cvEndFindContours(&scanner); }
};
using ContourScanHandle = std::unique_ptr<std::remove_pointer_t<CvContourScanner>, ContourScanEnd>;

// Holds a region of interest on a borrowed image and takes it off again when the scope ends.
class ImageRoiScope {
 public:
  ImageRoiScope(IplImage* image, CvRect region) : image_(image) { cvSetImageROI(image_, region); }
  ~ImageRoiScope() { cvResetImageROI(image_); }
  ImageRoiScope(const ImageRoiScope&) = delete;
  ImageRoiScope& operator=(const ImageRoiScope&) = delete;

 private:
  IplImage* image_;
};

#endif  // QUARNEL_DECODER_CV_HANDLES_H_
