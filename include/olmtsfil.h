/*
 * olmtsfil: reader of multi-channel electromagnetic field recordings and of the
 * calibrations that turn their raw counts into physical units.
 *
 * Conventions
 * -----------
 * - Handles are opaque. TSOpenHT and CalOpenHT create them and return NULL on any
 *   failure; TSCloseHT and CalCloseHT take the ADDRESS of the caller's handle
 *   variable, release everything, set the variable to NULL and accept a variable
 *   that already holds NULL.
 * - Every other function returns a status: 0 (OLMTS_OK) is success, all other
 *   values are the OLMTS_* codes below; olmts_status_text() names them.
 *   Exceptions: GCodePrmHT returns 11000 + the number of table parameters,
 *   SetConcatHT returns the flag it set, GetDftFreqHT returns a frequency
 *   (0.0 when there is none).
 * - Results go through trailing out-pointers supplied by the caller. They are left
 *   untouched when the status is not 0, unless a function says otherwise
 *   (GetSampleRateHzHT clears its rate, the nominal-gain functions clear all 12
 *   gains, the response functions may leave partial results).
 * - The library never allocates memory for the caller, writes no messages and
 *   keeps no state outside the handles.
 * - One handle serves one thread at a time: reading moves the stream positions of
 *   a recording handle, and the response functions move the record cursor of a
 *   calibration handle. Different handles are independent.
 * - Stream numbers are 0 (spectral records, ".TFC") and 1 ... 5 (time series).
 * - Value type codes (OLMTS_TYPE_*) are shared by ReadPrmHT, ReadCalPrmHT and
 *   ReadTagHT; only the low 8 bits of a type argument count. The out buffer needs
 *   4 bytes for type 0, 8 bytes for types 1 and 5, 16 bytes for types 2 and 4.
 *
 * Calling convention: on 32-bit Windows every export is __stdcall and exported
 * under its undecorated name; elsewhere the platform's C convention applies.
 */
/* The header keeps its own layout (indented preprocessor lines, one-line cases). */
/* clang-format off */
#ifndef OLMTSFIL_H
#define OLMTSFIL_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#  define OLMTS_CALL __stdcall
#else
#  define OLMTS_CALL
#endif

#if defined(_WIN32)
#  if defined(OLMTSFIL_BUILDING)
#    define OLMTS_API __declspec(dllexport)
#  else
#    define OLMTS_API
#  endif
#elif defined(__GNUC__)
#  define OLMTS_API __attribute__((visibility("default")))
#else
#  define OLMTS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status codes ---------------------------------------------------------- */
#define OLMTS_OK 0
#define OLMTS_BAD_SEEK_MODE 1             /* SeekHT mode other than 0; nothing done */
#define OLMTS_COMB_UNSUPPORTED 131        /* "TCMB"/"K8SR"/"LFRQ" combination not modelled */
#define OLMTS_DECIMATION_UNSUPPORTED 132  /* negative rate or stream, or "TALS" not modelled */
#define OLMTS_NO_SUCH_NAME 201            /* no parameter or tag field of that name */
#define OLMTS_TYPE_MISMATCH 202           /* stored type differs, or type 3 or above 5 */
#define OLMTS_GAP 1201                    /* records do not join, or one is not available */
#define OLMTS_SEEK_LATER 1202             /* no record at the time; positioned on the next one */
#define OLMTS_END_OF_DATA 1220            /* end of the stream, or no record consumed yet */
#define OLMTS_READ_ERROR 1221             /* a record cannot be read or skipped */
#define OLMTS_NULL_HANDLE 1222            /* recording handle NULL; ReadRecHT: buffer too small */
#define OLMTS_BAD_STREAM 1223             /* stream outside 0..5 or not usable; bad rate setting */
#define OLMTS_TAG_MISMATCH 1225           /* a tag disagrees with the first tag of its stream */
#define OLMTS_PATH_TOO_LONG 1226          /* (open) base path longer than 256 characters */
#define OLMTS_CAL_TOO_LARGE 1227          /* (open) calibration table > 100 records, > 30 tables */
#define OLMTS_NULL_CAL_HANDLE 1228        /* calibration handle NULL */
#define OLMTS_OUT_OF_CAL_RANGE 1229       /* frequency outside the calibration records, no key */
#define OLMTS_BAD_CAL_KIND 1230           /* calibration kind not 1, 2, 3 or not the file's */
#define OLMTS_CAL_PATH_TOO_LONG 1231      /* (open) calibration base path too long */
#define OLMTS_NO_RESPONSE 1232            /* a channel's response cannot be formed */
#define OLMTS_BAD_RATE_CODE 1233          /* minute-based rate code outside 0..6 */
#define OLMTS_NO_MEMORY 1234              /* memory cannot be allocated */
#define OLMTS_TABLE_NOT_OPENED 1235       /* (open) the table file cannot be opened */
#define OLMTS_CANNOT_REOPEN 1237          /* first file of a set cannot be reopened */
#define OLMTS_CAL_NOT_OPENED 1239         /* (open) the calibration file cannot be opened */
#define OLMTS_CAL_HEADER_SHORT 1240       /* (open) calibration header incomplete */
#define OLMTS_NO_MODEL 1245               /* no front-end circuit model in the calibration */
#define OLMTS_CHANNEL_COUNT_MISMATCH 1246 /* recording and calibration channel counts differ */
#define OLMTS_CAL_RECORD_COUNT 1247       /* (open) no calibration record, or more than 500 */
#define OLMTS_BAD_WINDOW 1248             /* spectral window number does not fit the levels */

/* GCodePrmHT returns this base plus the number of table parameters. */
#define OLMTS_PARAM_COUNT_BASE 11000

/* ---- Value type codes ------------------------------------------------------ */
#define OLMTS_TYPE_INT32 0     /* 4 bytes, little-endian signed */
#define OLMTS_TYPE_DOUBLE 1    /* 8 bytes IEEE 754 */
#define OLMTS_TYPE_TEXT16 2    /* 16 bytes, NUL-terminated unless all 16 are used */
#define OLMTS_TYPE_NONE 3      /* no readable layout; every read fails */
#define OLMTS_TYPE_TEXT 4      /* as OLMTS_TYPE_TEXT16 */
#define OLMTS_TYPE_TIMESTAMP 5 /* 8 bytes, the TimeStamp layout */

/* ---- Types ----------------------------------------------------------------- */
typedef struct TsHandle TsHandle;   /* an open recording */
typedef struct CalHandle CalHandle; /* an open calibration */

/* Calendar time of a record or calibration: 8 bytes, no time zone. */
typedef struct TimeStamp {
  uint8_t second;   /* 0-59 */
  uint8_t minute;   /* 0-59 */
  uint8_t hour;     /* 0-23 */
  uint8_t day;      /* 1-31 */
  uint8_t month;    /* 1-12 */
  uint8_t year;     /* year within the century, 0-99 */
  uint8_t reserved; /* not interpreted */
  uint8_t century;  /* 19 or 20 */
} TimeStamp;

/* Complex response value: real part first. Arrays of it are indexed by channel. */
typedef struct Complex {
  double re;
  double im;
} Complex;

/* ---- Recording ------------------------------------------------------------- */

/* Opens the recording whose table file is base_name + ".TBL" (base_name at most
 * 256 characters) and the first file of each stream that exists. */
OLMTS_API TsHandle* OLMTS_CALL TSOpenHT(const char* base_name);
OLMTS_API void OLMTS_CALL TSCloseHT(TsHandle** handle_ref);
/* Switches continuation into the next dated file of a stream's set; returns the new flag. */
OLMTS_API int32_t OLMTS_CALL SetConcatHT(TsHandle* handle, int32_t on);

/* ---- Table parameters ------------------------------------------------------ */
OLMTS_API int32_t OLMTS_CALL ReadPrmHT(TsHandle* handle, const char* name, int32_t type, void* out);
OLMTS_API int32_t OLMTS_CALL ReadPrmInfoHT(TsHandle* handle, const char* name, char* type_out,
                                           int32_t* info_word_out, int32_t* info_byte1_out,
                                           int32_t* info_byte2_out);
/* Writes the 8-byte name of parameter `index` (not terminated when 8 characters
 * long; an empty name for an index out of range) and returns 11000 + count. */
OLMTS_API int32_t OLMTS_CALL GCodePrmHT(TsHandle* handle, int32_t index, char* name_out);
OLMTS_API int32_t OLMTS_CALL GetNumChnHT(TsHandle* handle, int32_t* count_out);
OLMTS_API int32_t OLMTS_CALL GetSampleRateHzHT(TsHandle* handle, int32_t stream, double* rate_hz_out);

/* ---- Records, scans and tags ----------------------------------------------- */
OLMTS_API int32_t OLMTS_CALL SeekHT(TsHandle* handle, int32_t stream, TimeStamp time, int32_t mode);
OLMTS_API int32_t OLMTS_CALL GapHT(TsHandle* handle, int32_t stream);
OLMTS_API int32_t OLMTS_CALL SkipRecHT(TsHandle* handle, int32_t stream);
OLMTS_API int32_t OLMTS_CALL ReadRecHT(TsHandle* handle, int32_t stream, int32_t buffer_size, void* buffer);
/* Scan reading. *record_flag tells where the scan lies in its record: 1 the
 * first scan of a record, -1 the last one (also the only scan of a one-scan
 * record), 0 any other scan and on failure.
 * ReadScanHT: scan receives NCHN x LSMP bytes of the stream's first tag. */
OLMTS_API int32_t OLMTS_CALL ReadScanHT(TsHandle* handle, int32_t stream, int32_t* record_flag, void* scan);
/* values receives NCHN doubles, fractions of full scale. */
OLMTS_API int32_t OLMTS_CALL ReadScanDblHT(TsHandle* handle, int32_t stream, int32_t* record_flag, double* values);
/* which: 0 the tag of the record consumed last, otherwise the tag of the next one.
 * Field names (any ASCII case), all type OLMTS_TYPE_INT32 (zero-extended) except
 * "UTC" (OLMTS_TYPE_TIMESTAMP): "UTC", "SNUM", "SCNT", "NCHN", "LTAG", "STAT",
 * "SATC", "LSMP", "RATE", "RUNT", "CLST" (tags of 32 bytes or more), "TERR",
 * "SBREC", "WINDX", "WISCN", "LEVTP", "LEVAL", "NFRQT", "NFRQD", "NFREQ". */
OLMTS_API int32_t OLMTS_CALL ReadTagHT(TsHandle* handle, int32_t stream, int32_t which, const char* name,
                                       int32_t type, void* out);

/* ---- Spectral records (stream 0) ------------------------------------------- */
OLMTS_API double OLMTS_CALL GetDftFreqHT(TsHandle* handle, int32_t freq_index);
/* values receives 2 x NCHN doubles: real and imaginary part per channel.
 * window, level and freq_index may be NULL. *record_flag: 1 and -1 as for
 * ReadScanHT; within a record, 2 the first and -2 the last coefficient of a
 * level's group; 0 otherwise. */
OLMTS_API int32_t OLMTS_CALL ReadDftScanHT(TsHandle* handle, int32_t* record_flag, int32_t* window,
                                           int32_t* level, int32_t* freq_index, double* values);

/* ---- Calibrations ---------------------------------------------------------- */
/* kind 1: box (base_name + ".CLB"); 2 or 3: sensor (base_name + ".CLC"). */
OLMTS_API CalHandle* OLMTS_CALL CalOpenHT(int32_t kind, const char* base_name);
OLMTS_API void OLMTS_CALL CalCloseHT(CalHandle** handle_ref);
OLMTS_API int32_t OLMTS_CALL ReadCalPrmHT(CalHandle* handle, const char* name, int32_t type, void* out);

/* ---- Nominal gains, responses and delay ------------------------------------ */
/* gains: 12 doubles, one per channel number, all cleared first. */
OLMTS_API int32_t OLMTS_CALL CalcBoxNomGainHT(TsHandle* handle, double* gains);
OLMTS_API int32_t OLMTS_CALL CalcSensorNomGainHT(TsHandle* handle, double* gains);
/* resp and resp_aux hold one element per channel of the calibration. */
OLMTS_API int32_t OLMTS_CALL CalcSensorRespHT(CalHandle* cal, TsHandle* ts, double freq_hz, Complex* resp,
                                              double* resp_aux);
/* resp and resp_aux hold one element per channel of the recording. */
OLMTS_API int32_t OLMTS_CALL CalcBoxRespHT(CalHandle* cal, TsHandle* ts, int32_t stream, double freq_hz,
                                           Complex* resp, double* resp_aux);
/* delay in samples at the stream's sample rate. */
OLMTS_API int32_t OLMTS_CALL GetAcqDelayHT(TsHandle* handle, int32_t stream, double* delay);

/* ---- Extensions ---------------------------------------------------------------
 * Functions of this library beyond the HT family, named olmts_*. They follow the
 * conventions above (status returns, caller-supplied outputs, no allocation) and
 * the same calling convention. */

/* Gap test: the numbers GapHT compares for the last consumed record of a stream
 * and the next one. expected_scans: the scans that fit between the two record
 * times at the next record's rate, rounded to the nearest whole scan;
 * record_scans: the scan count of the last record; rate_hz: that rate in samples
 * per second as the gap test counts it (RATE per second when RUNT is 0, per
 * minute for any other RUNT). GapHT reports a gap exactly when the two counts
 * differ; expected_scans - record_scans is the number of missing scans (negative
 * for records that overlap). Null out-pointers are skipped.
 * Returns OLMTS_OK; OLMTS_GAP when either record is not available (nothing
 * consumed yet, or no next record), with nothing written; OLMTS_NULL_HANDLE;
 * OLMTS_BAD_STREAM. */
OLMTS_API int32_t OLMTS_CALL olmts_gap_scans(TsHandle* handle, int32_t stream, int64_t* expected_scans,
                                             int64_t* record_scans, double* rate_hz);
/* The rate in samples per second of a held record tag as the gap test counts it:
 * which 0 the last consumed record, any other value the next one (as ReadTagHT).
 * Returns OLMTS_OK, that tag's pending status (OLMTS_END_OF_DATA when no record
 * was consumed yet or none follows, a read status), OLMTS_NULL_HANDLE or
 * OLMTS_BAD_STREAM (and OLMTS_NULL_HANDLE for a null rate_hz); rate_hz is written
 * only on OLMTS_OK. */
OLMTS_API int32_t OLMTS_CALL olmts_record_rate_hz(TsHandle* handle, int32_t stream, int32_t which, double* rate_hz);
/* The file of a stream's dated set that the reader has open: the file that holds
 * the stream's next record (the one the next read consumes), or the file whose end
 * was met last. file_index: 0 for the set's first file, n for the n-th file the
 * reader continued into (files it could not open do not count); path: that
 * file's path as the reader formed it, NUL-terminated, in a buffer of path_size
 * bytes (a path longer than path_size - 1 bytes gives OLMTS_BAD_ARGUMENT, nothing
 * written). Callers that list a set compare these with the files they expected,
 * to name a file that exists but could not be read.
 * Returns OLMTS_OK; OLMTS_NULL_HANDLE; OLMTS_BAD_STREAM for a stream outside 0..5
 * or without a usable file; OLMTS_BAD_ARGUMENT for a NULL out-pointer or a small
 * buffer. */
OLMTS_API int32_t OLMTS_CALL olmts_stream_file(TsHandle* handle, int32_t stream, int32_t* file_index, char* path,
                                               int32_t path_size);
/* The names the reader tries, in order, for the file that follows `path` in
 * its dated set (with concatenation on): candidate 0, 1, ... of them, each a
 * path in the same folder with the same extension, NUL-terminated into out
 * (out_size bytes). The reader takes the first that opens, and ends the set at
 * a candidate that is the set's first file or when none opens. Callers that
 * list a set follow the same rule this way.
 * Returns OLMTS_OK; OLMTS_END_OF_DATA when there is no candidate of that index
 * (none at all for a name without a successor), nothing written;
 * OLMTS_BAD_ARGUMENT for a NULL argument, a negative candidate or a buffer too
 * small for the name (nothing written); OLMTS_NO_MEMORY. */
OLMTS_API int32_t OLMTS_CALL olmts_next_set_file(const char* path, int32_t candidate, char* out, int32_t out_size);

/* ---- Extensions: physical units -------------------------------------------
 * Not part of the HT family: functions named olmts_*, built on the exports
 * above. docs/units.md defines the chain, its units and its phase convention.
 *
 * A chain describes, per channel of a recording and one time-series stream, the
 * stages that lead from the physical quantity to the recorded counts (the FDSN
 * direction):
 *   electric: "dipole"  mV/km -> V  (dipole length from the table x 1e-6)
 *             "box"     V -> V      (analog front end x digital filters)
 *             "digitiser" V -> counts (2^23 / full-scale voltage "FSCV")
 *   magnetic: "sensor"  nT -> V     (sensor calibration, or the table's nominal
 *                                    value, flagged OLMTS_STAGE_TABLE_NOMINAL)
 *             "box", "digitiser"    as above
 * Responses use the e^{+j 2 pi f t} convention: a field A cos(2 pi f t + p)
 * is recorded as |H| A cos(2 pi f t + p + arg H). The box stage holds no linear
 * phase of the acquisition delay: the delay is a time shift of its own
 * (olmts_chain_delay), applied once to sample times. CalcBoxRespHT's value,
 * which includes that phase, is H_box x exp(-j 2 pi f delay_s).
 *
 * Enumerate: olmts_chain_channels, then per channel 1 ... n olmts_chain_stage_count
 * and olmts_chain_stage_info / olmts_chain_stage_response for stage 0 ... count-1
 * in FDSN order; stage OLMTS_STAGE_TOTAL (-1) is the whole chain (physical
 * units -> counts). Channels are numbered from 1 like the table's "CH.." values.
 * Handles of chains and converters are independent of each other but use the
 * TsHandle and CalHandles they were made from: keep those open while using
 * them, and use them from one thread at a time together with those handles. */

#define OLMTS_SENSOR_REQUIRED 1301     /* a magnetic channel has no sensor calibration (required) */
#define OLMTS_BOX_SERIAL_MISMATCH 1302 /* box calibration "SNUM" differs from the records' "SNUM" */
#define OLMTS_BAD_ARGUMENT 1303        /* NULL out-pointer, channel or stage out of range, bad option */
#define OLMTS_NOT_AVAILABLE 1304       /* this build has no FFT: deconvolution not available */

/* olmts_chain_open options (bit flags) */
#define OLMTS_CHAIN_REQUIRE_SENSORS 0x1 /* refuse a magnetic channel without sensor calibration */
#define OLMTS_CHAIN_FORCE_BOX 0x2       /* accept a box calibration of another box (flagged) */

/* Stage kinds */
#define OLMTS_STAGE_DIPOLE 1
#define OLMTS_STAGE_SENSOR 2
#define OLMTS_STAGE_BOX 3
#define OLMTS_STAGE_DIGITISER 4
#define OLMTS_STAGE_TOTAL (-1) /* stage index of the whole chain */

/* Stage flags */
#define OLMTS_STAGE_TABLE_NOMINAL 0x1   /* the value is the table's nominal one, no calibration */
#define OLMTS_STAGE_SERIAL_MISMATCH 0x2 /* the calibration's serial differs from the table's */
#define OLMTS_STAGE_UNUSABLE 0x4        /* no value can be formed (e.g. dipole length 0) */
#define OLMTS_STAGE_BOX_FORCED 0x8      /* box calibration of another box, used as forced */
#define OLMTS_STAGE_ASSUMED 0x10        /* a missing table value was replaced by its default */

typedef struct OlmtsChain OlmtsChain;
typedef struct OlmtsConverter OlmtsConverter;

typedef struct OlmtsStageInfo {
  int32_t kind;              /* OLMTS_STAGE_*, 0 for the total */
  int32_t flags;             /* OLMTS_STAGE_* flags; the total has the union of its stages' */
  char name[24];             /* "dipole", "sensor", "box", "digitiser", "total" */
  char input_units[16];      /* "mV/km", "nT", "V" */
  char output_units[16];     /* "V", "counts" */
  double gain;               /* |response| at gain_frequency_hz, output units per input unit */
  double gain_frequency_hz;  /* the chain's one gain frequency */
  double fmin_hz, fmax_hz;   /* frequencies the stage's calibration covers; 0, 0: any */
  char source[96];           /* where the stage comes from, e.g. "table EXLN", "calibration SNUM 201 block 1" */
  char serial[16];           /* the calibration's serial ("SNUM" or "HSN"), "" for table values */
} OlmtsStageInfo;

/* sensors: NULL, or 12 entries by channel number - 1 (NULL where none serves);
 * sensor_blocks: NULL (block 0 everywhere) or 12 block indices. box is required.
 * gain_frequency_hz <= 0 selects the default (docs/units.md). On success
 * *chain_out receives a new chain; on failure it is left untouched. */
OLMTS_API int32_t OLMTS_CALL olmts_chain_open(TsHandle* ts, int32_t stream, CalHandle* box,
                                              CalHandle* const* sensors, const int32_t* sensor_blocks,
                                              int32_t options, double gain_frequency_hz, OlmtsChain** chain_out);
OLMTS_API void OLMTS_CALL olmts_chain_close(OlmtsChain** chain_ref);
OLMTS_API int32_t OLMTS_CALL olmts_chain_channels(const OlmtsChain* chain, int32_t* count_out);
/* component: "Ex" ... "Hz" (or "" for a channel no component names), units: "mV/km", "nT" or "V" */
OLMTS_API int32_t OLMTS_CALL olmts_chain_channel(const OlmtsChain* chain, int32_t channel, char component[4],
                                                 char units[8]);
OLMTS_API int32_t OLMTS_CALL olmts_chain_stage_count(const OlmtsChain* chain, int32_t channel, int32_t* count_out);
OLMTS_API int32_t OLMTS_CALL olmts_chain_stage_info(const OlmtsChain* chain, int32_t channel, int32_t stage,
                                                    OlmtsStageInfo* info_out);
/* Complex response of a stage (or OLMTS_STAGE_TOTAL) at freq_hz. *outside_out
 * (may be NULL) is 1 when freq_hz lies outside the frequencies the stage's
 * calibration covers (the value is then extrapolated by the library), else 0.
 * Statuses of the library's response functions pass through (1229, 1232 ...). */
OLMTS_API int32_t OLMTS_CALL olmts_chain_stage_response(OlmtsChain* chain, int32_t channel, int32_t stage,
                                                        double freq_hz, Complex* resp_out, int32_t* outside_out);
/* The stream's acquisition delay: a scan stamped t describes the field at t - seconds. */
OLMTS_API int32_t OLMTS_CALL olmts_chain_delay(const OlmtsChain* chain, double* samples_out, double* seconds_out);
OLMTS_API int32_t OLMTS_CALL olmts_chain_sample_rate(const OlmtsChain* chain, double* rate_hz_out);

/* ---- Conversion to physical units ------------------------------------------
 * OLMTS_UNITS_NOMINAL: each value / the total passband gain (scalar per channel).
 * OLMTS_UNITS_DECONVOLVED: the whole response removed in the frequency domain,
 * in overlapping blocks, band-limited to [fmin_hz, fmax_hz] (0: defaults). Input:
 * scans of fractions of full scale as ReadScanDblHT gives them, one contiguous
 * run of records; output: the field in the channel's units, at the scans' stamp
 * times (subtract the delay for the field's time). Push scans, pull what is
 * ready; finish at the end of the run (then the converter starts a new run).
 * With threads > 1 the blocks ready are shared out among that many threads
 * (started and joined within push and finish), and scans become ready once
 * there is a block for each thread; the values do not depend on the number of
 * threads, bit for bit. */
#define OLMTS_UNITS_NOMINAL 1
#define OLMTS_UNITS_DECONVOLVED 2

typedef struct OlmtsConvertOptions {
  double fmin_hz;    /* low band limit, 0: default */
  double fmax_hz;    /* high band limit, 0: default */
  int32_t block;     /* FFT length (power of two), 0: default */
  int32_t threads;   /* deconvolution threads: 0 the machine's cores (at most 8), 1 the caller's only */
} OlmtsConvertOptions;

OLMTS_API int32_t OLMTS_CALL olmts_converter_open(OlmtsChain* chain, int32_t mode, const OlmtsConvertOptions* options,
                                                  OlmtsConverter** converter_out);
OLMTS_API void OLMTS_CALL olmts_converter_close(OlmtsConverter** converter_ref);
/* values: scans x channels doubles, scan after scan. */
OLMTS_API int32_t OLMTS_CALL olmts_converter_push(OlmtsConverter* converter, const double* values, int32_t scans);
/* Ends the current run: every scan pushed becomes ready. */
OLMTS_API int32_t OLMTS_CALL olmts_converter_finish(OlmtsConverter* converter);
/* Starts the next run late, for reading a window of a long run: the run's
 * scans [first_scan, end_scan) are given out (end_scan < 0: up to the run's
 * end), bit for bit what a run pushed whole from its first scan gives there.
 * Scans count from the run's first (0). Push the run's scans from
 * *input_from_out on (the deconvolution's blocks reach before first_scan, by up
 * to 3/4 of a block; nominal: first_scan itself), up to *input_to_out or the
 * run's end, whichever comes first (reaching up to 3/4 of a block past
 * end_scan; -1 when end_scan < 0: up to the run's end), then finish. Scans
 * pushed past *input_to_out are ignored. Call it after open or finish, before
 * the run's first push: the window ends with the run (finish).
 * Returns OLMTS_OK; OLMTS_BAD_ARGUMENT for a NULL argument, a negative
 * first_scan, an end_scan below it (other than < 0), either beyond 2^62, or a
 * call once the run has scans (nothing changed). */
OLMTS_API int32_t OLMTS_CALL olmts_converter_start(OlmtsConverter* converter, int64_t first_scan, int64_t end_scan,
                                                   int64_t* input_from_out, int64_t* input_to_out);
/* Copies up to capacity ready scans (x channels doubles) into out; *scans_out the number copied. */
OLMTS_API int32_t OLMTS_CALL olmts_converter_pull(OlmtsConverter* converter, double* out, int32_t capacity,
                                                  int32_t* scans_out);
/* The band in use and the FFT block length (0 for nominal). */
OLMTS_API int32_t OLMTS_CALL olmts_converter_band(const OlmtsConverter* converter, double* fmin_hz_out,
                                                  double* fmax_hz_out, int32_t* block_out);

/* ---- Extensions: block reading of scans -------------------------------------
 * olmts_read_scans_dbl and olmts_read_scans_i32 read many scans of a time-series
 * stream (1 ... 5) in one call, continuing exactly where ReadScanHT and
 * ReadScanDblHT stand (they share one position and record buffer, so the three
 * may be mixed). Rows are scans, row-major: values[i * NCHN + c] is channel c of
 * scan i, NCHN being the channel count of the stream's tags (ReadTagHT "NCHN").
 * - values: fractions of full scale, bit for bit what ReadScanDblHT gives;
 *   counts: the signed 24-bit sample values (the fraction times 2^23).
 * - capacity is the number of elements the buffer holds; at most
 *   capacity / NCHN whole scans are delivered.
 * - stop_at_gap != 0: reading stops before a record that does not join the one
 *   before it (as GapHT tells), unless no scan was delivered yet by this call;
 *   so every block read this way is one contiguous run of scans.
 * - *scans_read (required) receives the number of scans delivered, also when
 *   the status is not 0; it is 0 after an argument error.
 * Status: OLMTS_OK when capacity / NCHN scans were delivered; OLMTS_GAP when it
 * stopped at a gap; OLMTS_END_OF_DATA at the end of the stream; any other status
 * is the fault that ended the stream (the scans before it are delivered).
 * Argument errors: OLMTS_NULL_HANDLE for a NULL handle, a NULL buffer or
 * scans_read, or a negative capacity; OLMTS_BAD_STREAM for stream 0, a number
 * outside 1 ... 5 or an unusable stream. */
OLMTS_API int32_t OLMTS_CALL olmts_read_scans_dbl(TsHandle* handle, int32_t stream, int32_t stop_at_gap,
                                                  double* values, int64_t capacity, int64_t* scans_read);
OLMTS_API int32_t OLMTS_CALL olmts_read_scans_i32(TsHandle* handle, int32_t stream, int32_t stop_at_gap,
                                                  int32_t* counts, int64_t capacity, int64_t* scans_read);

/* ---- Extensions: walking a stream by its tags --------------------------------
 * olmts_walk_stream passes over every remaining record of a stream (0 ... 5) in
 * one call, from where record reading stands, as repeated SkipRecHT calls would:
 * each record's tag is read and its data block passed over by offset, never read
 * or converted. Scans still held by the scan reader are not counted.
 * - walk->records: records passed over;
 * - walk->gaps: records after which GapHT would report a gap, counted only when
 *   a next record follows (the end of the stream is no gap);
 * - walk->first, walk->last: times ("UTC") of the first and last record passed,
 *   meaningful only when walk->records > 0.
 * Unlike SkipRecHT, a record whose data block is cut short by the end of its
 * file is not passed over: the walk stops there with OLMTS_READ_ERROR, the
 * stream failed as after ReadRecHT on that record.
 * Returns the status that ended the walk: OLMTS_END_OF_DATA at a clean end,
 * otherwise the fault that ended the stream (OLMTS_READ_ERROR for a record cut
 * short or unreadable, OLMTS_TAG_MISMATCH, ...), with the records before it in
 * *walk. OLMTS_NULL_HANDLE for a NULL handle or walk; OLMTS_BAD_STREAM for a
 * number outside 0 ... 5 or an unusable stream (walk zeroed when not NULL).
 * Afterwards the stream stands at its end, or at the fault, as after the
 * SkipRecHT calls; SeekHT moves it back. */
typedef struct OlmtsStreamWalk {
  int64_t records;
  int64_t gaps;
  TimeStamp first;
  TimeStamp last;
} OlmtsStreamWalk;
OLMTS_API int32_t OLMTS_CALL olmts_walk_stream(TsHandle* handle, int32_t stream, OlmtsStreamWalk* walk);

/* ---- Extensions: surveying a stream ----------------------------------------
 * olmts_survey_stream finds what olmts_walk_stream would find from where record
 * reading stands (records, gaps, first and last time, the status that ends it);
 * with every_tag != 0 it is that walk, every tag read. With every_tag == 0 it
 * does not read every tag: within each file of the set, a run of whole
 * records is taken as one joined run when the tags at its two ends can be
 * read, agree with the stream's first tag (as olmts_walk_stream requires, and
 * in RATE and RUNT) and lie as many record durations apart as the run has
 * records; a run that does not fit is halved, tags read in its middle, until
 * every record after which GapHT would report a gap is found. The last whole
 * record of every file is passed as olmts_walk_stream passes it, so the joins
 * between files, files of another recording, a record cut short by the end of
 * its file and the end of the set are met exactly as the walk meets them; so
 * is every record of a file in which a tag looked at does not fit (unreadable,
 * disagreeing), and of a stream whose records do not lie evenly (streams 2 ... 4
 * read from the shared high-rate file, or a rate at which a record may be
 * joined at more than one whole-second spacing).
 * What it cannot see: a damaged tag, a time jump and the jump that makes up
 * for it, or any other departure confined to the inside of a run whose ends
 * fit. olmts_walk_stream reads every tag.
 * - survey->records, gaps, first, last: as in OlmtsStreamWalk;
 * - survey->tags_read: records passed whose tag was read (records when every
 *   tag was read, as by the walk);
 * - survey->record_size: bytes of one record (tag and data block) by the
 *   stream's first tag.
 * Status, argument errors and the stream's position afterwards as for
 * olmts_walk_stream. */
typedef struct OlmtsStreamSurvey {
  int64_t records;
  int64_t gaps;
  TimeStamp first;
  TimeStamp last;
  int64_t tags_read;
  int64_t record_size;
} OlmtsStreamSurvey;
OLMTS_API int32_t OLMTS_CALL olmts_survey_stream(TsHandle* handle, int32_t stream, int32_t every_tag,
                                                 OlmtsStreamSurvey* survey);

/* ---- Status texts (header only, not an export) ----------------------------- */
static inline const char* olmts_status_text(int32_t status) {
  switch (status) {
    case OLMTS_OK: return "success";
    case OLMTS_BAD_SEEK_MODE: return "seek mode other than 0";
    case OLMTS_COMB_UNSUPPORTED: return "comb filter settings not supported";
    case OLMTS_DECIMATION_UNSUPPORTED: return "decimation chain cannot be evaluated";
    case OLMTS_NO_SUCH_NAME: return "no parameter or field of that name";
    case OLMTS_TYPE_MISMATCH: return "value type differs from the requested type";
    case OLMTS_GAP: return "gap between records, or a record is not available";
    case OLMTS_SEEK_LATER: return "no record starts at that time; positioned on the next one";
    case OLMTS_END_OF_DATA: return "end of data, or no record consumed yet";
    case OLMTS_READ_ERROR: return "record data cannot be read";
    case OLMTS_NULL_HANDLE: return "recording handle is NULL, or buffer too small";
    case OLMTS_BAD_STREAM: return "stream number out of range or stream not usable";
    case OLMTS_TAG_MISMATCH: return "record tag disagrees with the stream's first tag";
    case OLMTS_PATH_TOO_LONG: return "base path longer than 256 characters";
    case OLMTS_CAL_TOO_LARGE: return "calibration table too long, or too many tables";
    case OLMTS_NULL_CAL_HANDLE: return "calibration handle is NULL";
    case OLMTS_OUT_OF_CAL_RANGE: return "frequency outside the calibration records";
    case OLMTS_BAD_CAL_KIND: return "calibration kind not valid or not the file's";
    case OLMTS_CAL_PATH_TOO_LONG: return "calibration base path longer than 256 characters";
    case OLMTS_NO_RESPONSE: return "a channel's response cannot be formed";
    case OLMTS_BAD_RATE_CODE: return "sample-rate code outside 0 ... 6";
    case OLMTS_NO_MEMORY: return "memory cannot be allocated";
    case OLMTS_TABLE_NOT_OPENED: return "table file cannot be opened";
    case OLMTS_CANNOT_REOPEN: return "first file of the stream's set cannot be reopened";
    case OLMTS_CAL_NOT_OPENED: return "calibration file cannot be opened";
    case OLMTS_CAL_HEADER_SHORT: return "calibration header cannot be read whole";
    case OLMTS_NO_MODEL: return "calibration holds no front-end circuit model";
    case OLMTS_CHANNEL_COUNT_MISMATCH: return "channel counts of recording and calibration differ";
    case OLMTS_CAL_RECORD_COUNT: return "calibration holds no record, or more than 500";
    case OLMTS_BAD_WINDOW: return "spectral window number does not fit the level layout";
    case OLMTS_SENSOR_REQUIRED: return "a magnetic channel has no sensor calibration";
    case OLMTS_BOX_SERIAL_MISMATCH: return "box calibration belongs to another box";
    case OLMTS_BAD_ARGUMENT: return "argument out of range or NULL";
    case OLMTS_NOT_AVAILABLE: return "not available in this build";
    default: return "unknown status";
  }
}

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* OLMTSFIL_H */
/* clang-format on */
