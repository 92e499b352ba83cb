// Runs a fuzz target once on each file of the directories and files given, so that the seed corpus and
// every saved crash input replay in the ordinary test build, without the fuzzing engine.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool replayFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // An exactly-sized copy, as the fuzzing engine hands it over.
  std::vector<std::uint8_t> input(bytes);
  LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  bool ok = true;
  for (int a = 1; a < argc; ++a) {
    const std::filesystem::path arg(argv[a]);
    std::error_code error;
    if (std::filesystem::is_directory(arg, error)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
      for (const auto& file : files) {
        ok = replayFile(file) && ok;
        ++replayed;
      }
    } else {
      ok = replayFile(arg) && ok;
      ++replayed;
    }
  }
  std::printf("replayed %d inputs\n", replayed);
  return ok && replayed > 0 ? 0 : 1;
}
