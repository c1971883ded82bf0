/* Block reading exercised from C, as a C caller writes it: the gtest suite in
 * scan_block_test.cc prepares the files and checks what these calls report. */
#include <stdlib.h>
#include <string.h>

#include "olmtsfil.h"

#include "scan_block_calls.h"

int64_t scan_block_compare(const char* base, int32_t stream, int32_t concat, int64_t block_scans, int32_t* end_status) {
  /* Two handles on one recording: one read block by block, the other scan by
   * scan; returns the index of the first scan that differs, or the scan count
   * when every scan agrees (-1 when the recording does not open). */
  TsHandle* blockwise = TSOpenHT(base);
  TsHandle* scanwise = TSOpenHT(base);
  int32_t channels = 0;
  int64_t total = 0, differs = -1;
  double* values = NULL;
  double scan[12];
  if (blockwise == NULL || scanwise == NULL) goto done;
  SetConcatHT(blockwise, concat);
  SetConcatHT(scanwise, concat);
  if (ReadTagHT(blockwise, stream, 1, "NCHN", OLMTS_TYPE_INT32, &channels) != OLMTS_OK || channels > 12) goto done;
  values = (double*)malloc((size_t)(block_scans * channels + 1) * sizeof(double));
  if (values == NULL) goto done;
  for (;;) {
    int64_t got = -1, i;
    int32_t c, flag, status = olmts_read_scans_dbl(blockwise, stream, 0, values, block_scans * channels, &got);
    for (i = 0; i < got; ++i) {
      if (ReadScanDblHT(scanwise, stream, &flag, scan) != OLMTS_OK) {
        differs = total + i;
        goto done;
      }
      for (c = 0; c < channels; ++c) {
        if (memcmp(&scan[c], &values[i * channels + c], sizeof(double)) != 0) {
          differs = total + i;
          goto done;
        }
      }
    }
    total += got;
    if (status != OLMTS_OK) {
      *end_status = status;
      break;
    }
  }
  differs = total;
done:
  free(values);
  TSCloseHT(&blockwise);
  TSCloseHT(&scanwise);
  return differs;
}

int32_t scan_block_segments(TsHandle* handle, int32_t stream, int64_t capacity, int64_t* counts, int32_t* statuses,
                            int32_t max_blocks) {
  /* Reads the stream to its end in blocks that stop at gaps, recording the scan
   * count and status of each block; returns the number of blocks. */
  int32_t* samples = (int32_t*)malloc((size_t)(capacity > 0 ? capacity : 1) * sizeof(int32_t));
  int32_t blocks = 0;
  if (samples == NULL) return -1;
  while (blocks < max_blocks) {
    int64_t got = -1;
    int32_t status = olmts_read_scans_i32(handle, stream, 1, samples, capacity, &got);
    counts[blocks] = got;
    statuses[blocks] = status;
    ++blocks;
    if (status != OLMTS_OK && status != OLMTS_GAP) break;
  }
  free(samples);
  return blocks;
}
