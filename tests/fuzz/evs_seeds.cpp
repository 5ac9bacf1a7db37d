// Writes the encrypted (.evs) form of each plain script named after the
// output directory, as the seeds of the .evs target: evs_seeds OUTDIR FILE...
#include <filesystem>
#include <fstream>
#include <iterator>

#include "encoder/CFileEncoder.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const CFileEncoder encoder;
  for (int i = 2; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    encoder.EncryptBytes(bytes);
    std::ofstream(std::filesystem::path(argv[1]) / (std::to_string(i - 1) + ".evs"), std::ios::binary) << bytes;
  }
  return 0;
}
