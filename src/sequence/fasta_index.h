// The index a FASTA file may have beside it ("genome.fa.fai", as samtools
// faidx writes it): one line per record, its name and its length in letters
// first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnik {

struct IndexedRecord {
  std::string name;
  uint64_t length = 0;
};

// The records of an index, in its order. A line that is not "name TAB
// length TAB offset TAB letters-per-line TAB bytes-per-line" (a sixth field,
// as FASTQ indexes have, is allowed), a name given twice or a file larger
// than the bound ends the run with an error naming the file, the line and
// the value.
std::vector<IndexedRecord> ParseFastaIndex(std::string_view text, const std::string& path);
std::vector<IndexedRecord> ReadFastaIndex(const std::string& path);

// The index of a FASTA file: its name with ".fai" added.
std::string FastaIndexPath(const std::string& fasta);

}  // namespace varnik
