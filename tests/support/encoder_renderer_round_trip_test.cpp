// Encoder and renderer together: a rendered symbol reads back, through libdmtx's own reader, as the
// message it was made from, so neither drops, mirrors nor transposes a module.
#include <gtest/gtest.h>

#include <dmtx.h>

#include <memory>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

#include "tests/support/symbol_encoder.h"
#include "tests/support/symbol_renderer.h"

namespace {

// The first symbol libdmtx finds in a grey image, or nothing.
std::optional<std::string> readWithDmtx(const cv::Mat& grey) {
  cv::Mat pixels = grey.clone();  // libdmtx wants a writable, continuous buffer
  std::unique_ptr<DmtxImage, void (*)(DmtxImage*)> image(
      dmtxImageCreate(pixels.data, pixels.cols, pixels.rows, DmtxPack8bppK),
      [](DmtxImage* i) { dmtxImageDestroy(&i); });
  if (!image) return std::nullopt;
  // libdmtx counts rows from the bottom unless told otherwise; ours run top-down.
  dmtxImageSetProp(image.get(), DmtxPropImageFlip, DmtxFlipNone);
  std::unique_ptr<DmtxDecode, void (*)(DmtxDecode*)> decoder(dmtxDecodeCreate(image.get(), 1),
                                                             [](DmtxDecode* d) { dmtxDecodeDestroy(&d); });
  if (!decoder) return std::nullopt;
  std::unique_ptr<DmtxRegion, void (*)(DmtxRegion*)> region(dmtxRegionFindNext(decoder.get(), nullptr),
                                                            [](DmtxRegion* r) { dmtxRegionDestroy(&r); });
  if (!region) return std::nullopt;
  std::unique_ptr<DmtxMessage, void (*)(DmtxMessage*)> message(
      dmtxDecodeMatrixRegion(decoder.get(), region.get(), DmtxUndefined),
      [](DmtxMessage* m) { dmtxMessageDestroy(&m); });
  if (!message) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(message->output), message->outputIdx);
}

TEST(RendererRoundTrip, RenderedSymbolsReadBackAsTheirMessage) {
  struct Case { int rows, cols; double rotation, tiltX, tiltY, blur, noise; int clutter; };
  const Case cases[] = {
      {16, 16, 0, 0, 0, 0, 0, 0},       {12, 26, 73, 0, 0, 0.6, 3, 15}, {8, 32, 200, 20, 0, 0, 2, 15},
      {22, 22, 311, -15, 10, 0.8, 4, 25}, {16, 36, 145, 0, -20, 0.5, 2, 10},
  };
  const std::string text = "Quarnel 42";  // nine codewords: fits the smallest size below
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rows << " x " << c.cols << " at " << c.rotation << " degrees");
    const std::optional<testsupport::SymbolMatrix> symbol = testsupport::encodeSymbol(text, c.rows, c.cols);
    ASSERT_TRUE(symbol.has_value());
    testsupport::RenderOptions options;
    options.imageWidth = 400;
    options.imageHeight = 320;
    options.moduleSize = 6;
    options.rotationDeg = c.rotation;
    options.tiltXDeg = c.tiltX;
    options.tiltYDeg = c.tiltY;
    options.blurSigma = c.blur;
    options.noiseSigma = c.noise;
    options.clutter = c.clutter;
    const testsupport::RenderedSymbol rendered = testsupport::renderSymbol(*symbol, options);
    ASSERT_FALSE(rendered.grey.empty());
    EXPECT_EQ(readWithDmtx(rendered.grey), text);

    // The reader refuses a mirror image, which is what makes the reads above a check of handedness. Once
    // is enough: a failed search of a whole image is slow.
    if (&c == &cases[0]) {
      cv::Mat mirrored;
      cv::flip(rendered.grey, mirrored, 1);
      EXPECT_NE(readWithDmtx(mirrored), text);
    }
  }
}

}  // namespace
