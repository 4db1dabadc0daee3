#include "driver/track_file.h"

#include "core/error.h"
#include "driver/score.h"

#ifdef VARNIK_HAVE_BIGWIG
// Local files only: no remote access, so none of libcurl's declarations.
#define NOCURL
extern "C" {
#include <bigWig.h>
}
#endif

namespace varnik {

#ifdef VARNIK_HAVE_BIGWIG

namespace {

// Zoom levels the browsers use to draw whole chromosomes.
constexpr int kZoomLevels = 10;

// libBigWig's global set-up, made once for the process.
void InitLibrary() {
  static const bool done = bwInit(size_t{1} << 17) == 0;
  if (!done) OnErrorExit(kUnspecifiedError, "Cannot start the bigWig library");
}

bigWigFile_t* OpenForReading(const std::string& path) {
  InitLibrary();
  bigWigFile_t* bw =
      bwIsBigWig(path.c_str(), nullptr) ? bwOpen(path.c_str(), nullptr, "r") : nullptr;
  if (bw == nullptr) {
    Diagnose(path + ": not a bigWig file");
    OnErrorExit(kReadFailed, "Cannot read bigWig file " + path);
  }
  return bw;
}

}  // namespace

bool BigWigAvailable() { return true; }

BigWigTrack::~BigWigTrack() {
  if (bw_ != nullptr) bwClose(static_cast<bigWigFile_t*>(bw_));
}

void BigWigTrack::Fail(const std::string& what) {
  Diagnose("cannot write " + file_.path() + ": " + what);
  OnErrorExit(kUnspecifiedError, "Cannot open file for saving outputs");
}

void BigWigTrack::Open(const std::string& path, const std::vector<IndexedRecord>& chromosomes) {
  InitLibrary();
  OpenOutput(file_, path);
  chromosomes_ = chromosomes;
  std::vector<const char*> names;
  std::vector<uint32_t> lengths;
  for (const IndexedRecord& c : chromosomes_) {
    if (c.length > UINT32_MAX)
      Fail("the record " + c.name + " is longer than a bigWig track holds");
    names.push_back(c.name.c_str());
    lengths.push_back(static_cast<uint32_t>(c.length));
  }
  // libBigWig writes the file itself (it seeks back to fill in the header);
  // the output file keeps the temporary it writes and puts it in place.
  bigWigFile_t* bw = bwOpen(file_.written_path().c_str(), nullptr, "w");
  if (bw == nullptr) Fail(SystemReason());
  bw_ = bw;
  if (bwCreateHdr(bw, kZoomLevels) != 0) Fail("cannot make the header");
  bw->cl = bwCreateChromList(names.data(), lengths.data(), static_cast<int64_t>(names.size()));
  if (bw->cl == nullptr || bwWriteHdr(bw) != 0) Fail("cannot write the header");
}

void BigWigTrack::Add(size_t chromosome, const std::vector<uint32_t>& starts,
                      const std::vector<float>& values) {
  if (starts.empty()) return;
  bigWigFile_t* bw = static_cast<bigWigFile_t*>(bw_);
  int status = 0;
  if (chromosome != current_) {
    if (current_ != SIZE_MAX && chromosome < current_) Fail("records out of order");
    current_ = chromosome;
    status = bwAddIntervalSpans(
        bw, chromosomes_[chromosome].name.c_str(), const_cast<uint32_t*>(starts.data()), 1,
        const_cast<float*>(values.data()), static_cast<uint32_t>(starts.size()));
  } else {
    if (starts.front() < last_end_) Fail("positions out of order");
    status = bwAppendIntervalSpans(bw, const_cast<uint32_t*>(starts.data()),
                                   const_cast<float*>(values.data()),
                                   static_cast<uint32_t>(starts.size()));
  }
  if (status != 0) Fail(SystemReason());
  last_end_ = starts.back() + 1;
}

void BigWigTrack::Close() {
  bwClose(static_cast<bigWigFile_t*>(bw_));
  bw_ = nullptr;
  // libBigWig does not report a failed write when it closes: the file is
  // read back (its header and index) before it is put in place.
  bigWigFile_t* check = bwIsBigWig(file_.written_path().c_str(), nullptr)
                            ? bwOpen(file_.written_path().c_str(), nullptr, "r")
                            : nullptr;
  const bool whole = check != nullptr && check->cl != nullptr &&
                     check->cl->nKeys == static_cast<int64_t>(chromosomes_.size());
  if (check != nullptr) bwClose(check);
  if (!whole) Fail("the file could not be written whole");
  file_.Close();
}

std::vector<IndexedRecord> BigWigChromosomes(const std::string& path) {
  bigWigFile_t* bw = OpenForReading(path);
  std::vector<IndexedRecord> out;
  for (int64_t i = 0; i < bw->cl->nKeys; ++i) out.push_back({bw->cl->chrom[i], bw->cl->len[i]});
  bwClose(bw);
  return out;
}

std::vector<TrackValue> ReadBigWig(const std::string& path) {
  bigWigFile_t* bw = OpenForReading(path);
  std::vector<TrackValue> out;
  for (int64_t i = 0; i < bw->cl->nKeys; ++i) {
    bwOverlappingIntervals_t* o =
        bwGetOverlappingIntervals(bw, bw->cl->chrom[i], 0, bw->cl->len[i]);
    if (o == nullptr) continue;
    for (uint32_t k = 0; k < o->l; ++k) {
      out.push_back({bw->cl->chrom[i], o->start[k], o->end[k], o->value[k]});
    }
    bwDestroyOverlappingIntervals(o);
  }
  bwClose(bw);
  return out;
}

#else

namespace {

[[noreturn]] void NoBigWig() {
  OnErrorExit(kUnspecifiedError,
              "This build of varnik has no bigWig support (it was built without libBigWig)");
}

}  // namespace

bool BigWigAvailable() { return false; }

BigWigTrack::~BigWigTrack() = default;
void BigWigTrack::Fail(const std::string&) { NoBigWig(); }
void BigWigTrack::Open(const std::string&, const std::vector<IndexedRecord>&) { NoBigWig(); }
void BigWigTrack::Add(size_t, const std::vector<uint32_t>&, const std::vector<float>&) {}
void BigWigTrack::Close() {}
std::vector<IndexedRecord> BigWigChromosomes(const std::string&) { NoBigWig(); }
std::vector<TrackValue> ReadBigWig(const std::string&) { NoBigWig(); }

#endif

}  // namespace varnik
