// Test-only: ECC 200 module matrices from libdmtx and libzint.
#include "tests/support/symbol_encoder.h"

#include <dmtx.h>
#include <zint.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

namespace testsupport {

namespace {

// Both encoders number the sizes in this order: the squares, then the rectangles; Zint goes on with the
// extension sizes. Function-local tables, so that tests may read them while their own statics are
// initialised.
const std::vector<std::pair<int, int>>& sizeTable() {
  static const std::vector<std::pair<int, int>> sizes = {
      {10, 10},   {12, 12},   {14, 14},   {16, 16},   {18, 18},   {20, 20},   {22, 22},   {24, 24},
      {26, 26},   {32, 32},   {36, 36},   {40, 40},   {44, 44},   {48, 48},   {52, 52},   {64, 64},
      {72, 72},   {80, 80},   {88, 88},   {96, 96},   {104, 104}, {120, 120}, {132, 132}, {144, 144},
      {8, 18},    {8, 32},    {12, 26},   {12, 36},   {16, 36},   {16, 48}};
  return sizes;
}

const std::vector<std::pair<int, int>>& dmreSizeTable() {
  static const std::vector<std::pair<int, int>> sizes = {
      {8, 48},  {8, 64},  {8, 80},  {8, 96},  {8, 120}, {8, 144}, {12, 64}, {12, 88}, {16, 64},
      {20, 36}, {20, 44}, {20, 64}, {22, 48}, {24, 48}, {24, 64}, {26, 40}, {26, 48}, {26, 64}};
  return sizes;
}

constexpr int ECC200_SIZE_COUNT = 30;

// Index of rows x cols in the encoders' numbering (0-29 the ECC 200 sizes, 30-47 the extension sizes),
// -1 for (0, 0) and -2 for a size that does not exist.
int sizeIndex(int rows, int cols) {
  if (rows == 0 && cols == 0) return -1;
  const auto size = std::make_pair(rows, cols);
  const std::vector<std::pair<int, int>>& sizes = sizeTable();
  const auto found = std::find(sizes.begin(), sizes.end(), size);
  if (found != sizes.end()) return static_cast<int>(found - sizes.begin());
  const std::vector<std::pair<int, int>>& extensions = dmreSizeTable();
  const auto extension = std::find(extensions.begin(), extensions.end(), size);
  if (extension != extensions.end()) return ECC200_SIZE_COUNT + static_cast<int>(extension - extensions.begin());
  return -2;
}

int dmtxScheme(EncodeScheme scheme) {
  switch (scheme) {
    case EncodeScheme::Ascii: return DmtxSchemeAscii;
    case EncodeScheme::C40: return DmtxSchemeC40;
    case EncodeScheme::Text: return DmtxSchemeText;
    case EncodeScheme::X12: return DmtxSchemeX12;
    case EncodeScheme::Edifact: return DmtxSchemeEdifact;
    case EncodeScheme::Base256: return DmtxSchemeBase256;
    case EncodeScheme::Auto: break;
  }
  return DmtxSchemeAutoBest;
}

// A symbol is only handed out when it has the asked size and the upright finder and timing pattern,
// so a caller never tests against an encoder's misunderstanding.
bool hasUprightPattern(const SymbolMatrix& symbol) {
  for (int r = 0; r < symbol.rows; ++r) {
    if (symbol.at(r, 0) != 1 || symbol.at(r, symbol.cols - 1) != ((symbol.rows - 1 - r) % 2 == 0 ? 1 : 0)) {
      return false;
    }
  }
  for (int c = 0; c < symbol.cols; ++c) {
    if (symbol.at(symbol.rows - 1, c) != 1 || symbol.at(0, c) != (c % 2 == 0 ? 1 : 0)) return false;
  }
  return true;
}

std::optional<SymbolWithCodewords> encodeWithDmtx(const std::vector<std::uint8_t>& message, int index,
                                                  EncodeScheme scheme) {
  if (index >= ECC200_SIZE_COUNT) return std::nullopt;
  std::unique_ptr<DmtxEncode, void (*)(DmtxEncode*)> encoder(dmtxEncodeCreate(), [](DmtxEncode* e) {
    dmtxEncodeDestroy(&e);
  });
  if (!encoder) return std::nullopt;
  dmtxEncodeSetProp(encoder.get(), DmtxPropSizeRequest, index >= 0 ? index : DmtxSymbolShapeAuto);
  dmtxEncodeSetProp(encoder.get(), DmtxPropScheme, dmtxScheme(scheme));
  dmtxEncodeSetProp(encoder.get(), DmtxPropModuleSize, 1);
  dmtxEncodeSetProp(encoder.get(), DmtxPropMarginSize, 0);
  std::vector<unsigned char> input(message.begin(), message.end());
  if (input.empty() || dmtxEncodeDataMatrix(encoder.get(), static_cast<int>(input.size()), input.data()) == DmtxFail) {
    return std::nullopt;
  }
  const int used = encoder->region.sizeIdx;
  SymbolMatrix symbol;
  symbol.rows = dmtxGetSymbolAttribute(DmtxSymAttribSymbolRows, used);
  symbol.cols = dmtxGetSymbolAttribute(DmtxSymAttribSymbolCols, used);
  symbol.modules.resize(static_cast<size_t>(symbol.rows) * symbol.cols);
  // libdmtx counts symbol rows from the bottom.
  for (int r = 0; r < symbol.rows; ++r) {
    for (int c = 0; c < symbol.cols; ++c) {
      const int status = dmtxSymbolModuleStatus(encoder->message, used, symbol.rows - 1 - r, c);
      symbol.modules[static_cast<size_t>(r) * symbol.cols + c] = (status & DmtxModuleOnRGB) != 0 ? 1 : 0;
    }
  }
  std::vector<std::uint8_t> codewords(encoder->message->code, encoder->message->code + encoder->message->codeSize);
  return SymbolWithCodewords{std::move(symbol), std::move(codewords)};
}

// Zint's module rows, one bit per module, as a SymbolMatrix.
SymbolMatrix matrixOf(const zint_symbol& encoder);

std::optional<SymbolMatrix> encodeWithZint(const std::vector<std::uint8_t>& message, int index,
                                           const ZintFeatures& features) {
  std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> encoder(ZBarcode_Create(), ZBarcode_Delete);
  if (!encoder) return std::nullopt;
  encoder->symbology = BARCODE_DATAMATRIX;
  encoder->option_2 = index >= 0 ? index + 1 : 0;
  if (index >= ECC200_SIZE_COUNT || (index < 0 && features.dmre)) encoder->option_3 = DM_DMRE;
  encoder->input_mode = features.gs1 ? GS1_MODE : features.utf8Input ? UNICODE_MODE : DATA_MODE;
  encoder->eci = features.eci;
  if (features.readerProgramming) encoder->output_options |= READER_INIT;
  if (features.appendCount > 0) {
    encoder->structapp.index = features.appendIndex;
    encoder->structapp.count = features.appendCount;
  }
  if (message.empty()) return std::nullopt;
  if (ZBarcode_Encode(encoder.get(), message.data(), static_cast<int>(message.size())) >= ZINT_ERROR) {
    return std::nullopt;
  }
  return matrixOf(*encoder);
}

std::optional<SymbolMatrix> encodeSegmentsWithZint(const std::vector<ZintSegment>& segments) {
  std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> encoder(ZBarcode_Create(), ZBarcode_Delete);
  if (!encoder || segments.empty()) return std::nullopt;
  encoder->symbology = BARCODE_DATAMATRIX;
  encoder->input_mode = UNICODE_MODE;
  std::vector<std::vector<unsigned char>> texts;
  std::vector<zint_seg> zintSegments;
  for (const ZintSegment& segment : segments) {
    texts.emplace_back(segment.utf8Text.begin(), segment.utf8Text.end());
  }
  for (size_t i = 0; i < segments.size(); ++i) {
    zintSegments.push_back({texts[i].data(), static_cast<int>(texts[i].size()), segments[i].eci});
  }
  if (ZBarcode_Encode_Segs(encoder.get(), zintSegments.data(), static_cast<int>(zintSegments.size())) >=
      ZINT_ERROR) {
    return std::nullopt;
  }
  return matrixOf(*encoder);
}

SymbolMatrix matrixOf(const zint_symbol& encoder) {
  SymbolMatrix symbol;
  symbol.rows = encoder.rows;
  symbol.cols = encoder.width;
  symbol.modules.resize(static_cast<size_t>(symbol.rows) * symbol.cols);
  for (int r = 0; r < symbol.rows; ++r) {
    for (int c = 0; c < symbol.cols; ++c) {
      const bool dark = (encoder.encoded_data[r][c >> 3] & (1 << (c & 7))) != 0;
      symbol.modules[static_cast<size_t>(r) * symbol.cols + c] = dark ? 1 : 0;
    }
  }
  return symbol;
}

std::optional<SymbolMatrix> checked(std::optional<SymbolMatrix> symbol, int rows, int cols) {
  if (!symbol || sizeIndex(symbol->rows, symbol->cols) < 0 || !hasUprightPattern(*symbol)) return std::nullopt;
  if (rows != 0 && (symbol->rows != rows || symbol->cols != cols)) return std::nullopt;
  return symbol;
}

}  // namespace

const std::vector<std::pair<int, int>>& ecc200Sizes() { return sizeTable(); }

const std::vector<std::pair<int, int>>& dmreSizes() { return dmreSizeTable(); }

std::optional<SymbolMatrix> encodeSymbol(const std::vector<std::uint8_t>& message, int rows, int cols,
                                         EncodeScheme scheme, EncoderLib lib) {
  const int index = sizeIndex(rows, cols);
  if (index == -2) return std::nullopt;
  if (lib == EncoderLib::Zint) {
    if (scheme != EncodeScheme::Auto) return std::nullopt;
    return checked(encodeWithZint(message, index, ZintFeatures{}), rows, cols);
  }
  std::optional<SymbolWithCodewords> encoded = encodeWithDmtx(message, index, scheme);
  if (!encoded) return std::nullopt;
  return checked(std::move(encoded->symbol), rows, cols);
}

std::optional<SymbolMatrix> encodeSymbol(std::string_view message, int rows, int cols, EncodeScheme scheme,
                                         EncoderLib lib) {
  return encodeSymbol(std::vector<std::uint8_t>(message.begin(), message.end()), rows, cols, scheme, lib);
}

std::optional<SymbolMatrix> encodeZintSegments(const std::vector<ZintSegment>& segments) {
  return checked(encodeSegmentsWithZint(segments), 0, 0);
}

std::optional<SymbolWithCodewords> encodeDmtxWithCodewords(const std::vector<std::uint8_t>& message, int rows,
                                                           int cols, EncodeScheme scheme) {
  const int index = sizeIndex(rows, cols);
  if (index == -2) return std::nullopt;
  std::optional<SymbolWithCodewords> encoded = encodeWithDmtx(message, index, scheme);
  if (!encoded || !checked(encoded->symbol, rows, cols)) return std::nullopt;
  return encoded;
}

std::optional<SymbolMatrix> encodeZintSymbol(const std::vector<std::uint8_t>& message, int rows, int cols,
                                             const ZintFeatures& features) {
  const int index = sizeIndex(rows, cols);
  if (index == -2) return std::nullopt;
  return checked(encodeWithZint(message, index, features), rows, cols);
}

}  // namespace testsupport
