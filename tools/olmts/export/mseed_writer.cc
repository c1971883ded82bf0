#if defined(OLMTS_HAVE_EXPORT)  // libmseed and libxml2 were found

#include "olmts/export/mseed_writer.h"

#include <libmseed.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "olmts/tool.h"

namespace olmts::exporting {

struct MseedWriter::Record {
  MSRecord* msr = nullptr;
};

MseedWriter::MseedWriter(const std::string& path, const SeedId& id, double rate_hz)
    : file_(path), rate_hz_(rate_hz), record_(new Record) {
  record_->msr = msr_init(nullptr);
  if (record_->msr == nullptr) throw ToolError(path + ": out of memory for a miniSEED record");
  MSRecord* msr = record_->msr;
  std::snprintf(msr->network, sizeof msr->network, "%s", id.network.c_str());
  std::snprintf(msr->station, sizeof msr->station, "%s", id.station.c_str());
  std::snprintf(msr->location, sizeof msr->location, "%s", id.location.c_str());
  std::snprintf(msr->channel, sizeof msr->channel, "%s", id.channel.c_str());
  msr->dataquality = 'D';
  msr->samprate = rate_hz;
  msr->reclen = kRecordLength;
  msr->encoding = DE_STEIM2;
  msr->byteorder = 1;  // big-endian, as SEED readers expect by default
  msr->sampletype = 'i';
  msr->sequence_number = 1;
  // Blockette 1001 carries the microseconds the fixed header's 100 us field
  // cannot; libmseed fills it in for every record it packs.
  blkt_1001_s extension{};
  if (msr_addblockette(msr, reinterpret_cast<char*>(&extension), sizeof extension, 1001, 0) == nullptr)
    throw ToolError(path + ": out of memory for a miniSEED record");
  pending_.reserve(kPackBatch);
}

MseedWriter::~MseedWriter() {
  if (record_ != nullptr && record_->msr != nullptr) {
    record_->msr->datasamples = nullptr;  // ours, not libmseed's to free
    msr_free(&record_->msr);
  }
  delete record_;
}

void MseedWriter::StartSegment(int64_t start_us) {
  if (in_segment_) Pack(true);
  segment_start_us_ = start_us;
  segment_packed_ = 0;
  in_segment_ = true;
  ++segments_;
}

void MseedWriter::Handler(char* record, int length, void* self) {
  auto* writer = static_cast<MseedWriter*>(self);
  if (!writer->write_error_.empty()) return;
  try {
    writer->file_.Write(record, static_cast<std::size_t>(length));
    ++writer->records_;
  } catch (const std::exception& e) {
    // libmseed calls back from C: the error travels back by this field.
    writer->write_error_ = e.what();
  }
}

// libmseed computes the start of every record after the first of one call from
// the call's own start, which rounds twice; so each call packs one record:
// without flushing, one sample more than a record can hold yields exactly one
// full record; when flushing the tail, no more samples than a record holds even
// at one Steim-2 difference per word.
void MseedWriter::Pack(bool flush) {
  constexpr int64_t kFullRecordProbe = 63 * 105 + 1;  // 63 frames of at most 105 samples
  constexpr int64_t kSurelyOneRecord = 63 * 15 - 2;   // one 30-bit difference per data word
  MSRecord* msr = record_->msr;
  std::size_t done = 0;
  while (done < pending_.size()) {
    const int64_t left = static_cast<int64_t>(pending_.size() - done);
    const bool full = left >= kFullRecordProbe;
    if (!full && !flush) break;
    const double offset_us = std::round(static_cast<double>(segment_packed_) * 1e6 / rate_hz_);
    msr->starttime = segment_start_us_ + static_cast<int64_t>(offset_us);
    msr->datasamples = pending_.data() + done;
    msr->numsamples = full ? kFullRecordProbe : std::min(left, kSurelyOneRecord);
    int64_t packed = 0;
    const int records = msr_pack(msr, &MseedWriter::Handler, this, &packed, full ? 0 : 1, 0);
    msr->datasamples = nullptr;
    if (records < 0)
      throw ToolError(file_.path() + ": libmseed could not pack the samples (" + ms_errorstr(records) + ")");
    if (!write_error_.empty()) throw ToolError(write_error_);
    if (records != 1 || packed <= 0)
      throw ToolError(file_.path() + ": libmseed packed " + std::to_string(records) + " records where one was due");
    done += static_cast<std::size_t>(packed);
    segment_packed_ += packed;
    samples_ += packed;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
}

void MseedWriter::Commit() {
  Pack(true);
  in_segment_ = false;
  file_.Commit();
}

}  // namespace olmts::exporting

#endif  // OLMTS_HAVE_EXPORT
