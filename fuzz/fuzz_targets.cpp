#include "fuzz_targets.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/output_file.h"
#include "core/sequence_set.h"
#include "core/settings.h"
#include "driver/mask.h"
#include "driver/model_file.h"
#include "driver/parameters.h"
#include "driver/saved_model.h"
#include "sequence/fasta.h"
#include "sequence/fasta_index.h"
#include "sequence/fasta_stream.h"
#include "sequence/protein.h"
#include "svm/svm_wd_table.h"

namespace varnik {

namespace {

// Runs a reader; the program's own refusals end it normally.
template <typename Reader>
int Refusing(Reader reader) {
  try {
    reader();
  } catch (const VarnikError&) {
  }
  return 0;
}

}  // namespace

int FuzzFastaWindows(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Settings s;
  s.Offset = data[0] & 3;
  s.Length = (data[0] >> 2) & 7;
  s.Use_protein_sequence = (data[0] & 0x20) != 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  return Refusing([&] {
    SequenceSet windows;
    std::vector<std::string> names;
    const int L = ReadFastaText(&text, "fuzz.fa", s, windows, &names);
    if (s.Use_protein_sequence) ConvertToProtein(windows, L);
  });
}

int FuzzParameters(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  return Refusing([&] {
    const ParameterFile params = ParameterFile::FromText(text);
    Settings s;
    OutputFile echo;
    if (!echo.Open("/dev/null")) return;
    LoadGlobalParameters(params, s, echo);
    WarnAboutParameters(params, s);
    CheckParameterValues(params, s);
  });
}

int FuzzMask(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int L = (data[0] | (data[1] << 8)) % 4096;
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
  return Refusing([&] { ReadMaskText(text, "fuzz.mask", L); });
}

int FuzzModelFile(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  return Refusing([&] {
    const SelfContainedModel m = ParseModelFile(std::move(text), "fuzz.model");
    // Every window of the model's length scores without reading past it.
    const int L = std::min(m.window.length, 4096);
    if (L != m.window.length) return;
    std::string mixed(static_cast<size_t>(L), 'C');
    for (size_t i = 0; i < mixed.size(); ++i) mixed[i] = "ACGTN-RY"[(data[i % size] + i) % 8];
    for (const std::string& w : {std::string(static_cast<size_t>(L), 'A'), mixed}) {
      m.recognizer->Score(w.c_str(), L);
    }
  });
}

int FuzzSavedModel(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string header = nul == std::string::npos
                                 ? "Classifier: SVM\nSequence length: 12\nThreshold: 0.5\n"
                                 : input.substr(0, nul);
  std::string svm = nul == std::string::npos ? input : input.substr(nul + 1);
  return Refusing([&] {
    const auto model = ModelFromText(header, std::move(svm), "fuzz.model");
    // A model that loads and fits its windows must score them, the exact
    // way and through the wd tables, without reading past them.
    CheckWindowLength(*model, model->length(), "fuzz.model");
    const int L = std::min(model->length(), 4096);
    std::vector<std::string> windows;
    windows.emplace_back(static_cast<size_t>(L), 'A');
    windows.emplace_back(static_cast<size_t>(L), 'G');
    std::string mixed(static_cast<size_t>(L), 'C');
    for (size_t i = 0; i < mixed.size(); ++i) mixed[i] = "ACGTN-RY"[(data[i % size] + i) % 8];
    windows.push_back(mixed);
    for (const std::string& w : windows) model->Score(w.c_str(), L);
    if (const auto table = WdTable::Build(*model->svm); table != nullptr && table->length() == L) {
      std::vector<const unsigned char*> rows;
      for (const std::string& w : windows) {
        rows.push_back(reinterpret_cast<const unsigned char*>(w.c_str()));
      }
      std::vector<double> out(rows.size());
      table->Decisions(rows.data(), static_cast<int>(rows.size()), out.data());
    }
  });
}

int FuzzSequenceStream(const uint8_t* data, size_t size) {
  // The reader opens a file by name: an in-memory file, not one on disk.
  const int fd = memfd_create("fuzz.fa", 0);
  if (fd < 0) return 0;
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  Refusing([&] {
    FastaStream in(path);
    std::string name;
    std::vector<char> letters(4096);
    while (in.NextRecord(name)) {
      while (in.Read(letters.data(), letters.size()) > 0) {
      }
    }
  });
  close(fd);
  return 0;
}

int FuzzFastaIndex(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  return Refusing([&] {
    const std::vector<IndexedRecord> records = ParseFastaIndex(text, "fuzz.fa.fai");
    std::set<std::string> names;
    for (const IndexedRecord& r : records) {
      if (r.name.empty() || !names.insert(r.name).second) __builtin_trap();
    }
  });
}

}  // namespace varnik
