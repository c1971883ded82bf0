/* C helpers of the block-reading tests (scan_block_calls.c). */
#ifndef OLMTSFIL_TESTS_SCAN_BLOCK_CALLS_H
#define OLMTSFIL_TESTS_SCAN_BLOCK_CALLS_H

#include <stdint.h>

#include "olmtsfil.h"

#ifdef __cplusplus
extern "C" {
#endif

int64_t scan_block_compare(const char* base, int32_t stream, int32_t concat, int64_t block_scans, int32_t* end_status);
int32_t scan_block_segments(TsHandle* handle, int32_t stream, int64_t capacity, int64_t* counts, int32_t* statuses,
                            int32_t max_blocks);

#ifdef __cplusplus
}
#endif

#endif
