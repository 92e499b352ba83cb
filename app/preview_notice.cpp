// The preview's notices.
#include "app/preview_notice.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

const std::vector<std::string> NOTICE_NO_CAMERA = {"No camera found.", "Connect one; Quarnel picks it up by itself."};
const std::vector<std::string> NOTICE_WAITING = {"Waiting for the camera..."};
const char* const WARNING_CANNOT_TYPE = "Nothing can be typed: no access to the keyboard (XTEST).";
const char* const WARNING_NO_FOCUS = "Not typed: no other window has the keyboard focus.";

namespace {

// The overlay's label geometry, times the picture width: band height and font scale.
constexpr double NOTICE_BAND = 0.047;
constexpr double NOTICE_FONT_SCALE = 0.0008;
constexpr int NOTICE_THICKNESS = 2;
const cv::Scalar NOTICE_FACE(240, 240, 240);
const cv::Scalar NOTICE_WHITE(255, 255, 255);
const cv::Scalar NOTICE_BLACK(0, 0, 0);

// The font scale at which the widest line fits the picture with a margin, never above the overlay's.
double fittingScale(const std::vector<std::string>& lines, int width) {
  double scale = width * NOTICE_FONT_SCALE;
  for (const std::string& line : lines) {
    int baseline = 0;
    const cv::Size size = cv::getTextSize(line, cv::FONT_HERSHEY_SIMPLEX, scale, NOTICE_THICKNESS, &baseline);
    const double room = width * 0.95;
    if (size.width > room) scale *= room / size.width;
  }
  return scale;
}

}  // namespace

void drawNoticePicture(cv::Mat& picture, const std::vector<std::string>& lines) {
  picture.setTo(NOTICE_FACE);
  if (picture.empty() || lines.empty()) return;
  const double scale = fittingScale(lines, picture.cols);
  const int lineHeight = std::max(1, static_cast<int>(NOTICE_BAND * picture.cols));
  const int bandHeight = lineHeight * static_cast<int>(lines.size()) + lineHeight / 2;
  const int bandTop = (picture.rows - bandHeight) / 2;
  cv::rectangle(picture, cv::Point(0, bandTop), cv::Point(picture.cols - 1, bandTop + bandHeight), NOTICE_WHITE,
                cv::FILLED);
  for (std::size_t n = 0; n < lines.size(); ++n) {
    int baseline = 0;
    const cv::Size size = cv::getTextSize(lines[n], cv::FONT_HERSHEY_SIMPLEX, scale, NOTICE_THICKNESS, &baseline);
    const int x = (picture.cols - size.width) / 2;
    const int y = bandTop + lineHeight / 4 + lineHeight * static_cast<int>(n) + (lineHeight + size.height) / 2;
    cv::putText(picture, lines[n], cv::Point(x, y), cv::FONT_HERSHEY_SIMPLEX, scale, NOTICE_BLACK, NOTICE_THICKNESS,
                cv::LINE_8);
  }
}

void drawWarningBand(cv::Mat& picture, const std::string& text) {
  if (picture.empty()) return;
  const int bandHeight = std::max(1, static_cast<int>(NOTICE_BAND * picture.cols));
  const int bandTop = std::max(0, picture.rows - bandHeight);
  cv::rectangle(picture, cv::Point(0, bandTop), cv::Point(picture.cols - 1, picture.rows - 1), NOTICE_WHITE,
                cv::FILLED);
  const double scale = fittingScale({text}, picture.cols);
  int baseline = 0;
  const cv::Size size = cv::getTextSize(text, cv::FONT_HERSHEY_SIMPLEX, scale, NOTICE_THICKNESS, &baseline);
  const int y = bandTop + (bandHeight + size.height) / 2;
  cv::putText(picture, text, cv::Point(bandHeight / 4, y), cv::FONT_HERSHEY_SIMPLEX, scale, NOTICE_BLACK,
              NOTICE_THICKNESS, cv::LINE_8);
}
