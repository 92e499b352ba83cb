// What the preview says besides the picture: a centred message while there is no picture, and a
// one-line warning on a white band at the foot of the picture. Both are drawn in the overlay's style,
// black Hershey text on white, scaled with the picture's width.
#ifndef QUARNEL_APP_PREVIEW_NOTICE_H_
#define QUARNEL_APP_PREVIEW_NOTICE_H_

#include <string>
#include <vector>

#include <opencv2/core.hpp>

// Shown while no device can be opened.
extern const std::vector<std::string> NOTICE_NO_CAMERA;
// Shown while a device is open but no frame has arrived yet.
extern const std::vector<std::string> NOTICE_WAITING;
// Warnings for the band: typing is impossible, or a read came while no window had the focus.
extern const char* const WARNING_CANNOT_TYPE;
extern const char* const WARNING_NO_FOCUS;

// Fills picture (8-bit, 3 channels) with the window's face colour and writes lines centred on a white
// band across its middle.
void drawNoticePicture(cv::Mat& picture, const std::vector<std::string>& lines);

// Writes text on a white band along the bottom edge of picture (8-bit, 3 channels).
void drawWarningBand(cv::Mat& picture, const std::string& text);

#endif  // QUARNEL_APP_PREVIEW_NOTICE_H_
