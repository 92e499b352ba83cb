// The scanner's whole read: the global pass, the adaptive pass when the global one read nothing, and the
// second look when neither did.
#include <cstring>
#include <vector>

#include "decoder/append.h"
#include "decoder/decoder.h"
#include "decoder/decoder_internal.h"
#include "decoder/second_look/extra_looks.h"
#include "decoder/second_look/pure_pictures.h"
#include "decoder/second_look/second_look.h"

namespace {

constexpr int PASS_COUNT = 2;
constexpr ScanPass PASSES[PASS_COUNT] = {SCAN_GLOBAL_PASS, SCAN_ADAPTIVE_PASS};
constexpr ScanStep PASS_STEPS[PASS_COUNT] = {SCAN_READ_BY_GLOBAL_PASS, SCAN_READ_BY_ADAPTIVE_PASS};

struct WholeRead {
  DecodeResult results[DECODE_MAX_RESULTS];
  int count = 0;
  std::vector<DecodedSymbol> messages;
  ScanStep readBy = SCAN_NOTHING_READ;
};

// Puts the second look's reads into result form: a message that cannot stand whole as text is left
// out of the results, as the passes do.
void takeSecondLookReads(std::vector<DecodedSymbol> symbols, WholeRead* read) {
  std::memset(read->results, 0, sizeof(read->results));
  read->count = 0;
  for (const DecodedSymbol& symbol : symbols) {
    if (read->count >= DECODE_MAX_RESULTS || !fitsTextField(symbol.message)) continue;
    DecodeResult& slot = read->results[read->count++];
    std::memcpy(slot.corners, symbol.corners, sizeof(slot.corners));
    if (!symbol.message.empty()) std::memcpy(slot.text, symbol.message.data(), symbol.message.size());
    slot.text[symbol.message.size()] = '\0';
  }
  read->messages = std::move(symbols);
}

// The results are the read messages that stand whole as text, in the same order (the passes and
// takeSecondLookReads both keep that rule), so the k-th such message carries the meaning of results[k].
void copyResultMeanings(const WholeRead& read, Ecc200Meaning* meanings) {
  int k = 0;
  for (const DecodedSymbol& symbol : read.messages) {
    if (k >= read.count) break;
    if (fitsTextField(symbol.message)) meanings[k++] = symbol.meaning;
  }
}

// Runs pass p over the image: its symbols into *messages, its results into read->results and *count,
// what it made into *leftovers. False when the pass could not run.
bool runPass(IplImage* grey, int p, bool readEveryCandidate, WholeRead* read, std::vector<DecodedSymbol>* messages,
             int* count, PassLeftovers* leftovers) {
  return runDecoder(grey, PASSES[p].threshold, PASSES[p].flags, nullptr, messages, read->results, count, leftovers,
                    readEveryCandidate) == 0;
}

// A file's whole read: a picture may hold many labels that no single step reads all of, so every step
// runs through every candidate, and each adds the symbols that lie outside those already read (the same
// symbol is often read by both passes, or from two outlines in one). Returns -1 when neither pass ran.
int readEveryStep(IplImage* grey, WholeRead* read) {
  PassLeftovers leftovers[PASS_COUNT];
  bool anyPassRan = false;
  for (int p = 0; p < PASS_COUNT; ++p) {
    std::vector<DecodedSymbol> messages;
    int count = 0;
    if (!runPass(grey, p, true, read, &messages, &count, &leftovers[p])) continue;
    anyPassRan = true;
    for (DecodedSymbol& symbol : messages) {
      if (read->messages.size() >= static_cast<size_t>(DECODE_MAX_CANDIDATES)) break;
      if (liesInRead(symbolCentre(symbol), read->messages)) continue;
      if (read->readBy == SCAN_NOTHING_READ) read->readBy = PASS_STEPS[p];
      read->messages.push_back(std::move(symbol));
    }
  }
  read->count = 0;  // the result slots were only the passes' scratch
  if (!anyPassRan) return -1;

  // The second look, then the extra looks, each skipping what lies in the symbols read before it. An
  // image-library error inside one costs its own reads, never those of the steps before it.
  using Step = ScanStep (*)(const IplImage*, PassLeftovers*, std::vector<DecodedSymbol>*);
  const Step steps[] = {
      [](const IplImage* image, PassLeftovers* passes, std::vector<DecodedSymbol>* symbols) {
        return secondLook(image, passes, PASS_COUNT, symbols, DECODE_MAX_CANDIDATES);
      },
      [](const IplImage* image, PassLeftovers* passes, std::vector<DecodedSymbol>* symbols) {
        return runExtraLooks(image, passes, PASS_COUNT, symbols, DECODE_MAX_CANDIDATES, SCAN_EVERY_EXTRA_LOOK);
      }};
  for (const Step step : steps) {
    std::vector<DecodedSymbol> withRescued = read->messages;
    try {
      const ScanStep readBy = step(grey, leftovers, &withRescued);
      if (read->readBy == SCAN_NOTHING_READ) read->readBy = readBy;
      read->messages = std::move(withRescued);
    } catch (...) {
      // This step's reads are lost; those before it stand.
    }
  }
  return 0;
}

// readEveryStep as a PictureRead: the whole read of the picture framed in a quiet zone.
int readEveryStepOf(IplImage* grey, std::vector<DecodedSymbol>* symbols) {
  WholeRead read;
  if (readEveryStep(grey, &read) != 0) return -1;
  symbols->insert(symbols->end(), read.messages.begin(), read.messages.end());
  return 0;
}

// A file's read: every step, and when they read nothing, the picture as a symbol alone without the quiet
// zone the passes need (encoders write symbols so, and symbols cut out of a document are so).
int readFile(IplImage* grey, WholeRead* read) {
  const int status = readEveryStep(grey, read);
  if (status != 0 || !read->messages.empty()) return status;
  try {
    read->readBy = readInAddedQuietZone(grey, readEveryStepOf, &read->messages);
    if (read->readBy == SCAN_NOTHING_READ) read->readBy = readPureSymbol(grey, &read->messages);
  } catch (...) {
    // An image-library error here costs these reads only; the file read nothing either way.
    read->messages.clear();
    read->readBy = SCAN_NOTHING_READ;
  }
  return 0;
}

// What a whole read is for: the scanner's results, or whole messages; files want every symbol.
enum class ReadScope { Results, Messages, EveryMessage };

// A step has read something when it gave a result with text (Results) or any symbol at all (the
// message scopes). Returns -1 when neither pass could run.
int runWholeRead(IplImage* grey, ReadScope scope, int extraLookTurn, WholeRead* read) {
  if (scope == ReadScope::EveryMessage) return readFile(grey, read);
  const bool countsMessages = scope != ReadScope::Results;
  PassLeftovers leftovers[PASS_COUNT];
  bool anyPassRan = false;
  for (int p = 0; p < PASS_COUNT; ++p) {
    std::vector<DecodedSymbol> messages;
    int count = 0;
    if (!runPass(grey, p, false, read, &messages, &count, &leftovers[p])) continue;
    anyPassRan = true;
    read->count = count;
    read->messages = std::move(messages);
    if (countsMessages ? !read->messages.empty() : count > 0) {
      read->readBy = PASS_STEPS[p];
      return 0;
    }
  }
  if (!anyPassRan) return -1;

  std::vector<DecodedSymbol> rescued;
  ScanStep step = SCAN_NOTHING_READ;
  try {
    step = secondLook(grey, leftovers, PASS_COUNT, &rescued);
    if (step == SCAN_NOTHING_READ) {
      step = runExtraLooks(grey, leftovers, PASS_COUNT, &rescued, DECODE_MAX_RESULTS, extraLookTurn);
    }
  } catch (...) {
    // An image-library error inside the second look costs its reads, never the frame.
    rescued.clear();
    step = SCAN_NOTHING_READ;
  }
  if (step != SCAN_NOTHING_READ) {
    takeSecondLookReads(std::move(rescued), read);
    read->readBy = step;
  }
  return 0;
}

}  // namespace

int scanImage(IplImage* grey, DecodeResult* results, int* count, ScanStep* readBy, Ecc200Meaning* meanings,
              int extraLookTurn) {
  WholeRead read;
  if (runWholeRead(grey, ReadScope::Results, extraLookTurn, &read) != 0) return -1;
  if (results != nullptr && count != nullptr) {
    std::memcpy(results, read.results, sizeof(read.results));
    *count = read.count;
  }
  if (meanings != nullptr) copyResultMeanings(read, meanings);
  if (readBy != nullptr) *readBy = read.count > 0 ? read.readBy : SCAN_NOTHING_READ;
  return 0;
}

namespace {

int readMessages(IplImage* grey, ReadScope scope, int extraLookTurn, std::vector<DecodedSymbol>* symbols,
                 ScanStep* readBy) {
  if (symbols == nullptr) return -1;
  WholeRead read;
  if (runWholeRead(grey, scope, extraLookTurn, &read) != 0) return -1;
  symbols->insert(symbols->end(), read.messages.begin(), read.messages.end());
  if (readBy != nullptr) *readBy = read.messages.empty() ? SCAN_NOTHING_READ : read.readBy;
  return 0;
}

}  // namespace

int scanImageMessages(IplImage* grey, std::vector<DecodedSymbol>* symbols, ScanStep* readBy, int extraLookTurn) {
  return readMessages(grey, ReadScope::Messages, extraLookTurn, symbols, readBy);
}

int scanImageEveryMessage(IplImage* grey, std::vector<DecodedSymbol>* symbols, ScanStep* readBy) {
  return readMessages(grey, ReadScope::EveryMessage, SCAN_EVERY_EXTRA_LOOK, symbols, readBy);
}
