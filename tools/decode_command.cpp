#include "tools/decode_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <ostream>
#include <system_error>
#include <thread>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "decoder/decoder.h"
#include "tools/codec_guard.h"
#include "tools/jpeg_scans.h"
#include "tools/pixel_budget.h"
#include "text/aim.h"
#include "text/charset.h"
#include "text/gs1.h"
#include "text/hex_byte.h"
#include "text/json_string.h"
#include "text/reading_order.h"

namespace {

constexpr const char* PROGRAM = "quarnel-decode";
// Larger files are refused before they are read: no label photograph comes near it.
constexpr off_t MAX_FILE_BYTES = 256 * 1024 * 1024;
// A header may claim any size; an image above this many pixels is refused rather than allocated.
constexpr double MAX_IMAGE_PIXELS = 100.0 * 1000 * 1000;
constexpr const char* IMAGE_TOO_LARGE = "image too large (more than 100 megapixels)";
constexpr const char* NOT_AN_IMAGE = "not an image that can be read";
constexpr const char* OUT_OF_MEMORY = "out of memory";
constexpr const char* IS_A_DIRECTORY = "is a directory (use --recursive to read the pictures inside)";

constexpr const char* USAGE =
    "Usage: quarnel-decode [--raw | --json | --utf8] [--recursive] FILE...\n"
    "Decodes the Data Matrix (ECC 200) symbols in image files (PNG, JPEG, WebP, BMP, TIFF).\n"
    "\n"
    "Each image is read as grey and decoded as the scanner does: first with an automatic global\n"
    "threshold, then, only when that finds nothing, with an adaptive threshold. Every symbol of a\n"
    "file is listed, up to 100 outlines examined per picture, in reading order: by the symbols'\n"
    "centres, top to bottom, and each row left to right.\n"
    "\n"
    "Output:\n"
    "  (default)  one line per symbol, 'FILE: TEXT'; bytes outside printable ASCII and the\n"
    "             backslash are written as \\xHH\n"
    "  --utf8     one line per symbol, 'FILE: TEXT', the text decoded by the character set\n"
    "             its ECI selects (ISO 8859-1 without one) and written as UTF-8; a backslash\n"
    "             is written as \\\\, a control character as \\u00HH and a byte that is no\n"
    "             character of its set as \\xHH\n"
    "  --json     one JSON document (UTF-8): per file its symbols or its error; per symbol the\n"
    "             text decoded by its ECI and its \"charset\", the bytes as \"hex\", the corners\n"
    "             \"finderVertex\", \"legA\", \"legB\", \"timingCorner\" (within the picture), and\n"
    "             \"gs1\" with the element strings, \"structuredAppend\" and the ECI designators\n"
    "             when the symbol has them; file names that are not UTF-8 carry \\xHH escapes\n"
    "  --raw      exactly the bytes of the first symbol, in reading order, of a single FILE,\n"
    "             nothing added\n"
    "  -j N       decode N files at once (default: the number of processors); the output is\n"
    "             the same, in the same order, as with one. A picture waits while those being\n"
    "             decoded would take more than half of the memory (or of the ulimit -v limit)\n"
    "\n"
    "Input:\n"
    "  -            as FILE: the picture on standard input\n"
    "  --recursive  a directory given as FILE stands for the pictures inside it and in its\n"
    "               subdirectories (by name: .png .jpg .jpeg .webp .bmp .tif .tiff), in sorted order;\n"
    "               a subdirectory that cannot be read is reported and the rest read\n"
    "\n"
    "Pictures of more than 100 megapixels, JPEG files of more than 500 scans and files of more\n"
    "than 256 MiB are refused.\n"
    "\n"
    "  --help     this text\n"
    "  --version  the version\n"
    "\n"
    "Exit status: 0 when every file gave at least one symbol, 1 when some file gave none,\n"
    "2 on a usage error or an unreadable file (a message naming the file goes to standard error;\n"
    "the other files are still read).\n";

enum class OutputMode { Text, Utf8, Json, Raw };

struct FileReport {
  std::string path;
  std::string error;  // empty when the image was read
  int width = 0;      // of the picture read
  int height = 0;
  std::vector<DecodedSymbol> symbols;  // in reading order
};

// A file descriptor, closed when its owner goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads a descriptor to its end, within the size limit of a file. A file whose size the system does not
// know (those of /proc say 0) is read the same way.
bool readToEnd(int fd, std::vector<std::uint8_t>* bytes, std::string* error) {
  bytes->clear();
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = errno != 0 ? std::strerror(errno) : "read error";
      return false;
    }
    if (got == 0) break;
    if (bytes->size() + static_cast<std::size_t>(got) > static_cast<std::size_t>(MAX_FILE_BYTES)) {
      *error = "file too large";
      return false;
    }
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  if (bytes->empty()) {
    *error = "empty file";
    return false;
  }
  return true;
}

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error) {
  // Without O_NONBLOCK, opening a FIFO would wait for a writer before it could be refused.
  const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.get() < 0) {
    *error = std::strerror(errno);
    return false;
  }
  struct stat info;
  if (fstat(file.get(), &info) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    *error = IS_A_DIRECTORY;
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = "not a regular file";
    return false;
  }
  if (info.st_size > MAX_FILE_BYTES) {
    *error = "file too large";
    return false;
  }
  fcntl(file.get(), F_SETFL, fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
  return readToEnd(file.get(), bytes, error);
}

// Every symbol of the picture, in the order a person reads them.
std::vector<DecodedSymbol> decodeGrey(cv::Mat& grey) {
  IplImage ipl = cvIplImage(grey);
  std::vector<DecodedSymbol> found;
  scanImageEveryMessage(&ipl, &found);  // the scanner's whole read, through every candidate
  std::vector<SymbolOutline> outlines;
  for (const DecodedSymbol& symbol : found) {
    SymbolOutline outline;
    for (int c = 0; c < 4; ++c) outline[c] = {double(symbol.corners[c].x), double(symbol.corners[c].y)};
    outlines.push_back(outline);
  }
  std::vector<DecodedSymbol> ordered;
  for (const std::size_t index : readingOrder(outlines)) ordered.push_back(std::move(found[index]));
  return ordered;
}

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string hex;
  for (const std::uint8_t b : bytes) appendHexByte(&hex, b, HexDigits::Lower);
  return hex;
}

// A corner as [x, y], moved onto the picture's nearest pixel when the outline reaches past its edge.
std::string clampedPoint(CvPoint p, int width, int height) {
  const int x = std::clamp(p.x, 0, std::max(0, width - 1));
  const int y = std::clamp(p.y, 0, std::max(0, height - 1));
  return "[" + std::to_string(x) + ", " + std::to_string(y) + "]";
}

std::string joined(const std::vector<std::string>& names, const char* separator) {
  std::string all;
  for (size_t i = 0; i < names.size(); ++i) all += (i ? separator : "") + names[i];
  return all;
}

// The fields a symbol's meaning adds: GS1 element strings, structured append, reader programming,
// the 05/06 macro and the ECI designators, each only when the symbol has it.
void writeMeaningJson(std::ostream& out, const DecodedSymbol& symbol) {
  const Ecc200Meaning& meaning = symbol.meaning;
  if (isGs1(meaning)) {
    out << ", \"gs1\": true";
    std::vector<Gs1Element> elements;
    // Data that breaks the GS1 rules keeps its text, but has no element strings to show.
    if (parseGs1Elements(symbol.message, &elements)) {
      out << ", \"gs1Elements\": " << jsonString(gs1HumanReadable(elements));
    }
  }
  if (meaning.structuredAppend) {
    const Ecc200StructuredAppend& append = *meaning.structuredAppend;
    out << ", \"structuredAppend\": {\"position\": " << append.position << ", \"count\": " << append.count
        << ", \"fileId\": [" << append.fileId1 << ", " << append.fileId2 << "]}";
  }
  if (meaning.readerProgramming) out << ", \"readerProgramming\": true";
  if (meaning.macro != Ecc200Macro::None) out << ", \"macro\": \"" << (meaning.macro == Ecc200Macro::Macro05 ? "05" : "06") << '"';
  if (!meaning.ecis.empty()) {
    out << ", \"eci\": [";
    for (size_t i = 0; i < meaning.ecis.size(); ++i) {
      out << (i ? ", " : "") << "{\"designator\": " << meaning.ecis[i].designator
          << ", \"byteOffset\": " << meaning.ecis[i].byteOffset << '}';
    }
    out << ']';
  }
  out << ", \"symbologyIdentifier\": " << jsonString(aimSymbologyIdentifier(meaning));
}

void writeSymbolJson(std::ostream& out, const DecodedSymbol& symbol, int width, int height) {
  const MessageText text = messageText(symbol.message, symbol.meaning.ecis);
  out << "{\"text\": " << jsonString(text.utf8) << ", \"charset\": " << jsonString(joined(text.charsets, ","));
  if (!text.unconverted.empty()) {
    // Bytes that are no character of their set are left out of the text and listed here.
    out << ", \"unconverted\": [";
    for (size_t i = 0; i < text.unconverted.size(); ++i) {
      out << (i ? ", " : "") << "{\"byteOffset\": " << text.unconverted[i].byteOffset << ", \"byte\": \""
          << hexBytes({text.unconverted[i].value}) << "\"}";
    }
    out << ']';
  }
  out << ", \"hex\": \"" << hexBytes(symbol.message) << '"';
  // In outline order as read, for scripts written against the first form of this output.
  out << ", \"corners\": [";
  for (int c = 0; c < 4; ++c) out << (c ? ", " : "") << '[' << symbol.corners[c].x << ", " << symbol.corners[c].y << ']';
  out << ']';
  // DecodeResult's order: far end of leg A, timing corner, far end of leg B, finder vertex.
  out << ", \"finderVertex\": " << clampedPoint(symbol.corners[3], width, height)
      << ", \"legA\": " << clampedPoint(symbol.corners[0], width, height)
      << ", \"legB\": " << clampedPoint(symbol.corners[2], width, height)
      << ", \"timingCorner\": " << clampedPoint(symbol.corners[1], width, height);
  writeMeaningJson(out, symbol);
  out << '}';
}

void writeJson(std::ostream& out, const std::vector<FileReport>& reports) {
  out << "{\"files\": [";
  for (size_t f = 0; f < reports.size(); ++f) {
    const FileReport& report = reports[f];
    out << (f ? ",\n  " : "\n  ") << "{\"file\": " << jsonFileName(report.path);
    if (!report.error.empty()) {
      out << ", \"error\": " << jsonString(report.error) << "}";
      continue;
    }
    out << ", \"symbols\": [";
    for (size_t s = 0; s < report.symbols.size(); ++s) {
      out << (s ? ",\n    " : "\n    ");
      writeSymbolJson(out, report.symbols[s], report.width, report.height);
    }
    out << "]}";
  }
  out << "\n]}\n";
}

// One output line's text of a symbol.
std::string symbolLine(const DecodedSymbol& symbol, OutputMode mode) {
  if (mode == OutputMode::Utf8) return escapedLine(messageText(symbol.message, symbol.meaning.ecis));
  return escapeMessage(symbol.message);
}

// A picture, by the name's extension, as --recursive picks files from a directory.
bool hasPictureExtension(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  for (char& ch : extension) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  for (const char* known : {".png", ".jpg", ".jpeg", ".jpe", ".webp", ".bmp", ".dib", ".tif", ".tiff"}) {
    if (extension == known) return true;
  }
  return false;
}

// One input of the batch: a file to read, or a directory of the walk that could not be read, with the reason.
struct Input {
  std::string path;
  std::string error;
};

// The pictures inside a directory and its subdirectories, and each directory of them that cannot be read
// with its reason. Symbolic links to directories are not followed, so a link loop cannot hold the walk.
std::vector<Input> walkDirectory(const std::string& root) {
  namespace fs = std::filesystem;
  std::vector<Input> found;
  std::vector<fs::path> pending = {root};
  while (!pending.empty()) {
    const fs::path directory = std::move(pending.back());
    pending.pop_back();
    std::error_code failure;
    fs::directory_iterator entries(directory, failure);
    for (; !failure && entries != fs::directory_iterator(); entries.increment(failure)) {
      std::error_code entryFailure;
      if (entries->symlink_status(entryFailure).type() == fs::file_type::directory) {
        pending.push_back(entries->path());
      } else if (entries->is_regular_file(entryFailure) && hasPictureExtension(entries->path())) {
        found.push_back({entries->path().string(), ""});
      }
    }
    if (failure) found.push_back({directory.string(), failure.message()});
  }
  std::sort(found.begin(), found.end(), [](const Input& a, const Input& b) { return a.path < b.path; });
  return found;
}

// With --recursive, each directory among the arguments becomes the pictures inside it, sorted by path,
// and the directories in it that cannot be read; one with neither is added to emptyDirectories.
std::vector<Input> expandDirectories(const std::vector<std::string>& args, bool recursive,
                                     std::vector<std::string>* emptyDirectories) {
  std::vector<Input> inputs;
  for (const std::string& arg : args) {
    std::error_code failure;
    if (!recursive || arg == "-" || !std::filesystem::is_directory(arg, failure)) {
      inputs.push_back({arg, ""});
      continue;
    }
    const std::vector<Input> found = walkDirectory(arg);
    if (found.empty()) emptyDirectories->push_back(arg);
    inputs.insert(inputs.end(), found.begin(), found.end());
  }
  return inputs;
}

// A file name as a line may hold it: control bytes (a line feed, an escape sequence) and the backslash as
// \xHH, as the texts are escaped, so that one file is one line and no name can forge a result or act on
// the terminal. Other bytes, those of UTF-8 names among them, stay as they are.
std::string printableName(const std::string& path) {
  std::string printable;
  for (const char ch : path) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte == 0x7F || byte == '\\') {
      appendEscapedByte(&printable, byte);
    } else {
      printable += ch;
    }
  }
  return printable;
}

int usageError(std::ostream& err, const std::string& message) {
  err << PROGRAM << ": " << message << "\n" << "Try '" << PROGRAM << " --help' for more information.\n";
  return DECODE_COMMAND_FAILED;
}

// The picture a codec gave, as 8-bit grey: 16-bit samples scaled down, floating-point ones (0 to 1 by
// convention) clamped and scaled, colour converted as the scanner converts camera frames. An empty Mat
// for a sample type or channel count no picture has.
cv::Mat greyPicture(const cv::Mat& decoded) {
  cv::Mat eightBit;
  switch (decoded.depth()) {
    case CV_8U:
      eightBit = decoded;
      break;
    case CV_16U:
      decoded.convertTo(eightBit, CV_8U, 1.0 / 257);
      break;
    case CV_32F:
    case CV_64F: {
      cv::Mat real;
      decoded.convertTo(real, CV_32F);
      cv::patchNaNs(real, 0);
      real = cv::min(cv::max(real, 0.0), 1.0);
      real.convertTo(eightBit, CV_8U, 255);
      break;
    }
    default:
      return cv::Mat();
  }
  cv::Mat grey;
  switch (eightBit.channels()) {
    case 1:
      grey = eightBit;
      break;
    case 3:
      cv::cvtColor(eightBit, grey, cv::COLOR_BGR2GRAY);
      break;
    case 4:
      cv::cvtColor(eightBit, grey, cv::COLOR_BGRA2GRAY);
      break;
    default:
      break;
  }
  return grey;
}

// decodeGreyImage, with the picture's pixels reserved from `reservation` before the codec allocates it.
cv::Mat decodeGreyPicture(const std::vector<std::uint8_t>& bytes, std::string* error,
                          PixelReservation* reservation) {
  if (looksLikeJpeg(bytes) && countJpegScans(bytes, JPEG_MAX_SCANS) > JPEG_MAX_SCANS) {
    *error = "too many JPEG scans (more than " + std::to_string(JPEG_MAX_SCANS) + ")";
    return cv::Mat();
  }
  bool refused = false, outOfMemory = false;
  // Three bytes a pixel: the colour picture the codecs are asked for.
  const cv::Mat decoded = runGuardedCodec(
      MAX_IMAGE_PIXELS * 3,
      [&] {
        try {
          const cv::Mat encoded(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<std::uint8_t*>(bytes.data()));
          return cv::imdecode(encoded, cv::IMREAD_COLOR);
        } catch (const std::bad_alloc&) {
          outOfMemory = true;
        } catch (const cv::Exception& failure) {
          outOfMemory = failure.code == cv::Error::StsNoMem;
        }
        return cv::Mat();
      },
      [&](double pixels) {
        if (reservation != nullptr) reservation->reserve(pixels);
      },
      &refused);
  if (refused) {
    *error = IMAGE_TOO_LARGE;
    return cv::Mat();
  }
  if (outOfMemory) {
    *error = OUT_OF_MEMORY;
    return cv::Mat();
  }
  if (decoded.empty()) {
    *error = NOT_AN_IMAGE;
    return cv::Mat();
  }
  if (static_cast<double>(decoded.cols) * decoded.rows > MAX_IMAGE_PIXELS) {
    *error = IMAGE_TOO_LARGE;
    return cv::Mat();
  }
  cv::Mat grey = greyPicture(decoded);
  if (grey.empty()) *error = NOT_AN_IMAGE;
  return grey;
}

// The picture of one argument: "-" is standard input, anything else a file.
cv::Mat loadInput(const std::string& path, std::string* error, PixelReservation* reservation) {
  std::vector<std::uint8_t> bytes;
  if (path == "-" ? !readToEnd(STDIN_FILENO, &bytes, error) : !readWholeFile(path, &bytes, error)) return cv::Mat();
  return decodeGreyPicture(bytes, error, reservation);
}

}  // namespace

cv::Mat decodeGreyImage(const std::vector<std::uint8_t>& bytes, std::string* error) {
  return decodeGreyPicture(bytes, error, nullptr);
}

cv::Mat loadGreyImage(const std::string& path, std::string* error) {
  std::vector<std::uint8_t> bytes;
  if (!readWholeFile(path, &bytes, error)) return cv::Mat();
  return decodeGreyImage(bytes, error);
}

namespace {

// Parses the count of -j: a whole number from 1 on.
bool parseJobCount(const std::string& text, unsigned* jobs) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
  if (value < 1) return false;
  *jobs = static_cast<unsigned>(value);
  return true;
}

// The reason given for a file whose reading threw: running out of memory or threads is that file's
// failure, not the batch's.
std::string currentFailureReason() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return OUT_OF_MEMORY;
  } catch (const cv::Exception& failure) {
    if (failure.code == cv::Error::StsNoMem) return OUT_OF_MEMORY;
    return failure.err.empty() ? "the image library failed" : failure.err;
  } catch (const std::exception& failure) {
    return failure.what();
  } catch (...) {
    return "unexpected failure";
  }
}

FileReport readFileReport(const Input& input, PixelBudget* budget) {
  FileReport report;
  report.path = input.path;
  report.error = input.error;
  if (!report.error.empty()) return report;
  try {
    PixelReservation reservation(budget);
    cv::Mat grey = loadInput(input.path, &report.error, &reservation);
    if (grey.empty()) return report;
    report.width = grey.cols;
    report.height = grey.rows;
    report.symbols = decodeGrey(grey);
  } catch (...) {
    report.symbols.clear();
    report.error = currentFailureReason();
  }
  return report;
}

// Threads joined when their owner goes, however the reading ends.
class JoinedThreads {
 public:
  JoinedThreads() = default;
  ~JoinedThreads() {
    for (std::thread& thread : threads_) thread.join();
  }
  JoinedThreads(const JoinedThreads&) = delete;
  JoinedThreads& operator=(const JoinedThreads&) = delete;

  // Starts a thread; false when the system cannot start one more.
  template <typename Work>
  bool start(Work work) {
    try {
      threads_.emplace_back(work);
      return true;
    } catch (const std::system_error&) {
      return false;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  bool empty() const { return threads_.empty(); }

 private:
  std::vector<std::thread> threads_;
};

// Reads the files on up to `jobs` threads and hands each report to `emit` in the order of the inputs, on
// the calling thread, as soon as it and all before it are done. Threads the system cannot start, or whose
// stacks the address space limit has no room for, mean fewer jobs; when none starts, the calling thread
// reads every file itself. The pixels decoded at once stay within the machine's budget.
template <typename Emit>
void readFilesInOrder(const std::vector<Input>& inputs, unsigned jobs, Emit emit) {
  PixelBudget budget(machinePixelBudget());
  const auto readInOrder = [&] {
    for (const Input& input : inputs) emit(readFileReport(input, &budget));
  };
  if (jobs <= 1 || inputs.size() <= 1) return readInOrder();
  std::vector<FileReport> reports(inputs.size());
  std::vector<char> done(inputs.size(), 0);
  std::mutex doneMutex;
  std::condition_variable doneChanged;
  std::atomic<size_t> nextFile{0};
  JoinedThreads workers;
  const size_t workerCount = threadsWithinAddressSpace(std::min<size_t>(jobs, inputs.size()));
  for (size_t w = 0; w < workerCount; ++w) {
    const bool started = workers.start([&] {
      for (size_t i = nextFile++; i < inputs.size(); i = nextFile++) {
        FileReport report = readFileReport(inputs[i], &budget);
        const std::lock_guard<std::mutex> lock(doneMutex);
        reports[i] = std::move(report);
        done[i] = 1;
        doneChanged.notify_all();
      }
    });
    if (!started) break;
  }
  if (workers.empty()) {
    // The system starts no thread: nor would it for the image library's thread pool, which then fails
    // the picture it works on, so the library works on the calling thread too.
    cv::setNumThreads(0);
    return readInOrder();
  }
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::unique_lock<std::mutex> lock(doneMutex);
    doneChanged.wait(lock, [&] { return done[i] != 0; });
    FileReport report = std::move(reports[i]);
    lock.unlock();
    emit(std::move(report));
  }
}

unsigned defaultJobCount() {
  const unsigned processors = std::thread::hardware_concurrency();
  return processors > 0 ? processors : 1;
}

}  // namespace

namespace {

// The output written out to its end, or the command's failure: a result that never reached its reader
// (a full disk, a closed pipe or standard output) is not a success.
int finishOutput(std::ostream& out, std::ostream& err, int status) {
  out.flush();
  if (out) return status;
  err << PROGRAM << ": cannot write the output\n";
  return DECODE_COMMAND_FAILED;
}

}  // namespace

int runDecodeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  OutputMode mode = OutputMode::Text;
  bool modeGiven = false;
  unsigned jobs = defaultJobCount();
  std::vector<std::string> paths;
  bool optionsEnded = false;
  bool recursive = false;
  for (size_t a = 0; a < args.size(); ++a) {
    const std::string& arg = args[a];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg == "--help") {
      out << USAGE;
      return finishOutput(out, err, DECODE_COMMAND_ALL_READ);
    } else if (!optionsEnded && arg == "--version") {
      out << PROGRAM << " " << QUARNEL_VERSION << "\n";
      return finishOutput(out, err, DECODE_COMMAND_ALL_READ);
    } else if (!optionsEnded && arg == "--recursive") {
      recursive = true;
    } else if (!optionsEnded && (arg == "--raw" || arg == "--json" || arg == "--utf8")) {
      const OutputMode wanted = arg == "--raw" ? OutputMode::Raw : arg == "--json" ? OutputMode::Json : OutputMode::Utf8;
      if (modeGiven && wanted != mode) return usageError(err, "only one of --raw, --json and --utf8 can be given");
      mode = wanted;
      modeGiven = true;
    } else if (!optionsEnded && arg.compare(0, 2, "-j") == 0) {
      if (arg == "-j" && a + 1 == args.size()) return usageError(err, "-j needs a number of files to decode at once");
      const std::string count = arg == "-j" ? args[++a] : arg.substr(2);
      if (!parseJobCount(count, &jobs)) return usageError(err, "invalid number for -j: '" + count + "'");
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return usageError(err, "unknown option '" + arg + "'");
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.empty()) return usageError(err, "no image file given");
  std::vector<std::string> emptyDirectories;
  const std::vector<Input> inputs = expandDirectories(paths, recursive, &emptyDirectories);
  for (const std::string& directory : emptyDirectories) {
    err << PROGRAM << ": " << printableName(directory) << ": no pictures found\n";
  }
  if (inputs.empty()) return DECODE_COMMAND_SOME_EMPTY;
  if (mode == OutputMode::Raw && inputs.size() != 1) return usageError(err, "--raw takes exactly one file");

  std::vector<FileReport> reports;
  bool anyUnreadable = false, anyEmpty = !emptyDirectories.empty();
  readFilesInOrder(inputs, jobs, [&](FileReport report) {
    const std::string path = printableName(report.path);
    writeWhileCodecsQuiet([&] {
      if (!report.error.empty()) {
        anyUnreadable = true;
        err << PROGRAM << ": " << path << ": " << report.error << "\n";
      } else if (report.symbols.empty()) {
        anyEmpty = true;
        if (mode != OutputMode::Json) err << PROGRAM << ": " << path << ": no symbol found\n";
      }
      err.flush();
    });
    if (mode == OutputMode::Text || mode == OutputMode::Utf8) {
      for (const DecodedSymbol& symbol : report.symbols) out << path << ": " << symbolLine(symbol, mode) << "\n";
    }
    reports.push_back(std::move(report));
  });
  if (mode == OutputMode::Json) writeJson(out, reports);
  if (mode == OutputMode::Raw && !reports[0].symbols.empty()) {
    const std::vector<std::uint8_t>& message = reports[0].symbols[0].message;
    out.write(reinterpret_cast<const char*>(message.data()), static_cast<std::streamsize>(message.size()));
  }
  const int status =
      anyUnreadable ? DECODE_COMMAND_FAILED : anyEmpty ? DECODE_COMMAND_SOME_EMPTY : DECODE_COMMAND_ALL_READ;
  return finishOutput(out, err, status);
}
