// Runs a libFuzzer target's entry point once on every file named on the command line (folders:
// every file in them), for builds without libFuzzer. Options starting with '-' are ignored. A name
// that cannot be read fails the run, so that a corpus that went missing is not taken for a pass.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool runFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // An exactly sized heap copy, so that AddressSanitizer catches a read past the input's end.
  std::vector<uint8_t> exact(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  bool unreadable = false;
  auto run = [&](const std::filesystem::path& path) {
    if (runFile(path))
      ++count;
    else
      unreadable = true;
  };
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;
    std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
        if (entry.is_regular_file()) run(entry.path());
      }
    } else {
      run(path);
    }
  }
  std::printf("%d inputs run\n", count);
  return count > 0 && !unreadable ? 0 : 1;
}
