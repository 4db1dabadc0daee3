#include "sequence/fasta_index.h"

#include <fstream>
#include <iterator>
#include <unordered_set>

#include "core/error.h"

namespace varnik {

namespace {

// Indexes of assemblies with millions of contigs stay far below this.
constexpr uint64_t kMaxIndexBytes = uint64_t{1} << 30;

[[noreturn]] void Refuse(const std::string& path, size_t line, const std::string& what) {
  Diagnose(path + ": line " + std::to_string(line) + ": " + what);
  OnErrorExit(kUnspecifiedError, "Bad FASTA index " + path);
}

// A decimal count of at most 18 digits (no sign, no blanks).
bool ParseCount(std::string_view field, uint64_t& value) {
  if (field.empty() || field.size() > 18) return false;
  value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    value = 10 * value + static_cast<uint64_t>(c - '0');
  }
  return true;
}

std::string Shown(std::string_view field) {
  std::string s(field.substr(0, 40));
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) >= 127) c = '?';
  }
  return "\"" + s + (field.size() > 40 ? "...\"" : "\"");
}

}  // namespace

std::vector<IndexedRecord> ParseFastaIndex(std::string_view text, const std::string& path) {
  std::vector<IndexedRecord> records;
  std::unordered_set<std::string_view> names;
  size_t line = 0;
  while (!text.empty()) {
    ++line;
    const size_t end = text.find('\n');
    std::string_view row = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
    std::vector<std::string_view> fields;
    while (fields.size() < 7) {
      const size_t tab = row.find('\t');
      fields.push_back(row.substr(0, tab));
      if (tab == std::string_view::npos) break;
      row.remove_prefix(tab + 1);
    }
    if (fields.size() < 5 || fields.size() > 6) {
      Refuse(path, line,
             "expected 5 fields separated by tabs, found " + std::to_string(fields.size()));
    }
    if (fields[0].empty()) Refuse(path, line, "a record without a name");
    for (size_t f = 1; f < fields.size(); ++f) {
      uint64_t value = 0;
      if (!ParseCount(fields[f], value)) {
        Refuse(path, line,
               "field " + std::to_string(f + 1) + " is not a count: " + Shown(fields[f]));
      }
      if (f == 1) records.push_back({std::string(fields[0]), value});
    }
    if (!names.insert(fields[0]).second) {
      Refuse(path, line, "the record " + Shown(fields[0]) + " is listed twice");
    }
  }
  return records;
}

std::vector<IndexedRecord> ReadFastaIndex(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Diagnose("cannot open " + path + ": " + SystemReason());
    OnErrorExit(kCannotOpenFile, "Cannot open FASTA index " + path);
  }
  std::string text;
  char block[1 << 16];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    text.append(block, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxIndexBytes) {
      Diagnose(path + ": larger than " + std::to_string(kMaxIndexBytes >> 20) + " MiB");
      OnErrorExit(kUnspecifiedError, "Bad FASTA index " + path);
    }
  }
  if (in.bad()) {
    Diagnose("cannot read " + path + ": " + SystemReason());
    OnErrorExit(kReadFailed, "Cannot read FASTA index " + path);
  }
  return ParseFastaIndex(text, path);
}

std::string FastaIndexPath(const std::string& fasta) { return fasta + ".fai"; }

}  // namespace varnik
