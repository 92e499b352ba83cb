#include "bench/readers.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>
#include <dmtx.h>

#include "decoder/decoder.h"

namespace benchreaders {
namespace {

constexpr long DMTX_TIME_LIMIT_MS = 2000;

std::vector<std::string> readWithZxing(const cv::Mat& grey) {
  ZXing::DecodeHints hints;
  hints.setFormats(ZXing::BarcodeFormat::DataMatrix);
  const ZXing::ImageView view(grey.data, grey.cols, grey.rows, ZXing::ImageFormat::Lum,
                              static_cast<int>(grey.step[0]));
  const ZXing::Result result = ZXing::ReadBarcode(view, hints);
  if (!result.isValid()) return {};
  const ZXing::ByteArray& bytes = result.bytes();
  return {std::string(bytes.begin(), bytes.end())};
}

std::vector<std::string> readWithDmtx(const cv::Mat& grey) {
  // libdmtx reads a tightly packed buffer; a continuous cv::Mat is one.
  cv::Mat packed = grey.isContinuous() ? grey : grey.clone();
  DmtxImage* image = dmtxImageCreate(packed.data, packed.cols, packed.rows, DmtxPack8bppK);
  if (image == nullptr) return {};
  // Rows are top-down here, as libdmtx expects without a flip.
  dmtxImageSetProp(image, DmtxPropImageFlip, DmtxFlipNone);
  DmtxDecode* decode = dmtxDecodeCreate(image, 1);
  std::vector<std::string> texts;
  if (decode != nullptr) {
    DmtxTime timeout = dmtxTimeAdd(dmtxTimeNow(), DMTX_TIME_LIMIT_MS);
    DmtxRegion* region = dmtxRegionFindNext(decode, &timeout);
    if (region != nullptr) {
      DmtxMessage* message = dmtxDecodeMatrixRegion(decode, region, DmtxUndefined);
      if (message != nullptr) {
        texts.emplace_back(reinterpret_cast<const char*>(message->output), message->outputIdx);
        dmtxMessageDestroy(&message);
      }
      dmtxRegionDestroy(&region);
    }
    dmtxDecodeDestroy(&decode);
  }
  dmtxImageDestroy(&image);
  return texts;
}

}  // namespace

const char* readerName(Reader reader) {
  switch (reader) {
    case Reader::Quarnel: return "quarnel";
    case Reader::QuarnelPasses: return "quarnel-passes";
    case Reader::ZxingCpp: return "zxing-cpp";
    case Reader::Libdmtx: return "libdmtx";
  }
  return "?";
}

std::vector<std::string> readWithQuarnel(const cv::Mat& grey, int* readBy) {
  IplImage image = cvIplImage(grey);
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 0;
  ScanStep step = SCAN_NOTHING_READ;
  if (scanImage(&image, results, &count, &step) != 0) count = 0;
  if (readBy != nullptr) *readBy = step;
  std::vector<std::string> texts;
  for (int i = 0; i < count; ++i) texts.emplace_back(results[i].text);
  return texts;
}

std::vector<std::string> readWithQuarnelPasses(const cv::Mat& grey) {
  IplImage image = cvIplImage(grey);
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 0;
  if (decodeImage(&image, results, &count, SCAN_GLOBAL_PASS.threshold, SCAN_GLOBAL_PASS.flags) != 0) count = 0;
  if (count == 0 &&
      decodeImage(&image, results, &count, SCAN_ADAPTIVE_PASS.threshold, SCAN_ADAPTIVE_PASS.flags) != 0) {
    count = 0;
  }
  std::vector<std::string> texts;
  for (int i = 0; i < count; ++i) texts.emplace_back(results[i].text);
  return texts;
}

std::vector<std::string> readFrame(Reader reader, const cv::Mat& grey) {
  switch (reader) {
    case Reader::Quarnel: return readWithQuarnel(grey);
    case Reader::QuarnelPasses: return readWithQuarnelPasses(grey);
    case Reader::ZxingCpp: return readWithZxing(grey);
    case Reader::Libdmtx: return readWithDmtx(grey);
  }
  return {};
}

}  // namespace benchreaders
