/* acekit public interface: the records and procedure types a host shares
 * with the library. Included by exports.h; the library's own layers include
 * it directly, so they need not see the exported functions.
 *
 * C-compatible (C99). Every record shared with the host has a fixed layout of
 * little-endian 32-bit words; on 32-bit targets pointers are 32 bits and the
 * sizes below are exact. On 64-bit targets pointer fields grow to pointer
 * size and every other field keeps its order and its 32-bit width. */
#ifndef ACEKIT_HOST_TYPES_H
#define ACEKIT_HOST_TYPES_H

#include <stdint.h>

#if defined(_WIN32)
#define ACEKIT_CALL __cdecl
#else
#define ACEKIT_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes: the word GetArchiveStatus returns after every call. 0 is
 * success; a failure keeps its code until the next export stores one. */
enum {
  ACEKIT_STATUS_OK = 0,
  ACEKIT_STATUS_NOT_FOUND = 2,   /* InitArcFile: no such archive (or it is a directory) */
  ACEKIT_STATUS_OPEN_FAILED = 5, /* cannot open, read or create a file; short header read */
  ACEKIT_STATUS_SIZE_FAILED = 6, /* archive size unreadable during the header search */
  ACEKIT_STATUS_NO_MEMORY = 8,
  ACEKIT_STATUS_SHORT_WRITE = 101,      /* disk full */
  ACEKIT_STATUS_CANCELLED = 2926,       /* a host procedure said stop */
  ACEKIT_STATUS_WORK_DIR_FAILED = 8902, /* solid rebuild: working directory unavailable */
  ACEKIT_STATUS_WORK_DIR_SHORT_WRITE = 8903,
  ACEKIT_STATUS_DIR_EXISTS = 8904,
  ACEKIT_STATUS_BAD_DIR_NAME = 8906,
  ACEKIT_STATUS_READ_ONLY_ARCHIVE = 9954,
  ACEKIT_STATUS_FILE_COMMENT_TOO_LONG = 9957,
  ACEKIT_STATUS_MAIN_COMMENT_TOO_LONG = 9958,
  ACEKIT_STATUS_ENCRYPTED_REBUILD = 9959, /* a solid rebuild met encrypted entries */
  ACEKIT_STATUS_UNSUPPORTED = 9960,       /* unknown compression method or archive version */
  ACEKIT_STATUS_ENCRYPTED_ENTRY = 9961,
  ACEKIT_STATUS_CRC_MISMATCH = 9962,
  ACEKIT_STATUS_CORRUPT = 9964, /* also the result of a versioned call given another version */
  ACEKIT_STATUS_NOTHING_TO_ADD = 9967,
  ACEKIT_STATUS_NO_MAIN_HEADER = 9976, /* not an archive */
  ACEKIT_STATUS_NOT_SUPPORTED = 32770
};

/* Bits of the option word (arOptionsOn, arOptionsOff, arOptionsAreOn). Other
 * bits are kept and reported but change nothing. */
enum {
  ACEKIT_OPTION_KEEP_PATHS = 0x0001, /* extraction recreates stored directories */
  ACEKIT_OPTION_NAMES_ONLY = 0x0010  /* adding stores bare names, without directories */
};

/* The archiver description: ten 32-bit words (GetArcerDesc, SetArcerStats and
 * their versioned forms), indexed by these. The Stats calls take words 6 to 9. */
enum {
  ACEKIT_DESC_CAPABILITIES = 0,   /* 0x7FF */
  ACEKIT_DESC_FORMAT_VERSION = 1, /* version needed by the open archive */
  ACEKIT_DESC_CONSTANT_2 = 2,     /* always 1 */
  ACEKIT_DESC_MIN_DICT_KB = 3,
  ACEKIT_DESC_MAX_DICT_KB = 4,
  ACEKIT_DESC_CONSTANT_5 = 5,     /* always 7 */
  ACEKIT_DESC_FORMAT_SETTING = 6, /* kept, not used */
  ACEKIT_DESC_DICT_KB = 7,        /* dictionary in KB: 64, 128, 256, 512 or 1024 */
  ACEKIT_DESC_MODE = 8,           /* ACEKIT_DESC_MODE_SOLID or 0 */
  ACEKIT_DESC_LEVEL = 9,          /* search level 1 to 4 */
  ACEKIT_DESC_WORDS = 10,
  ACEKIT_DESC_MODE_SOLID = 4, /* value of the mode word for a solid archive */
  ACEKIT_DESC_VERSION = 12    /* the only version the versioned calls accept */
};

/* Answers of the overwrite procedure (OkToReplaceProcFn). */
enum {
  ACEKIT_REPLACE_YES = 0,  /* replace the existing version */
  ACEKIT_REPLACE_KEEP = 1, /* keep it and skip the new one */
  ACEKIT_REPLACE_STOP = 2  /* stop the operation (ACEKIT_STATUS_CANCELLED) */
};

/* The host's context value: passed back untouched as the first argument of
 * every host procedure. Pointer-sized so a 64-bit host can pass a pointer. */
typedef intptr_t ArcContext;

/* One entry of an archive as the host sees it. */
typedef struct ArcEntry {
  int32_t is_file;    /* 1 file header, 0 recovery header */
  char name[256];     /* ANSI; a directory ends with a backslash */
  uint32_t pack_size; /* recovery header: its extra size */
  uint32_t orig_size;
  uint32_t ftime; /* packed local DOS date (high) and time (low) */
  uint32_t attr;
  int32_t encrypted;
  int32_t reserved1;
  uint32_t header_offset;
  uint32_t head_flags;
  int32_t reserved2;
  uint32_t tech_type; /* 0 stored, 1 compressed */
  uint32_t head_size;
  uint32_t head_crc;
  uint32_t crc32;
  int32_t host_os; /* filled when archive information is computed */
  int32_t reserved3;
  uint32_t fname_size;
  int32_t reserved4;
  uint32_t dict_code;
  int32_t comment_length;
  uint32_t head_type;
  int32_t reserved5[2];
  char* comment; /* owned by the record, or null */
  int32_t reserved6;
  struct ArcEntry* next;
} ArcEntry;

typedef struct ArcFileList {
  int32_t count;
  ArcEntry* first;
  ArcEntry* last;
} ArcFileList;

typedef struct FileMask {
  char* directory;
  char name[256];
  char extension[256];
  struct FileMask* next;
} FileMask;

typedef struct FileMaskList {
  FileMask* first;
  FileMask* last;
} FileMaskList;

typedef struct CommentRec {
  char* text;
  int32_t length;
  int32_t read_flag;
  int32_t reserved[4];
} CommentRec;

typedef struct FindTime {
  uint32_t low;
  uint32_t high;
} FindTime;

/* The find-data record given to the overwrite procedure. */
typedef struct FindData {
  uint32_t attributes;
  FindTime creation_time;
  FindTime last_access_time;
  FindTime last_write_time;
  uint32_t size_high;
  uint32_t size_low;
  uint32_t reserved0;
  uint32_t reserved1;
  char name[260];
  char short_name[14];
} FindData;

typedef int32_t(ACEKIT_CALL* SetFileNameProcFn)(ArcContext, const char* source, const char* target);
typedef int32_t(ACEKIT_CALL* SkipFileProcFn)(ArcContext, const char* name);
typedef int32_t(ACEKIT_CALL* SetProgressProcFn)(ArcContext, int32_t percent, int32_t bytes);
typedef int32_t(ACEKIT_CALL* OkToReplaceProcFn)(ArcContext, const FindData* existing,
                                                const FindData* incoming);

#if !defined(__cplusplus)
#define ACEKIT_STATIC_ASSERT _Static_assert
#else
#define ACEKIT_STATIC_ASSERT static_assert
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
ACEKIT_STATIC_ASSERT(sizeof(ArcEntry) == 360, "ArcEntry must be 360 bytes");
ACEKIT_STATIC_ASSERT(sizeof(FileMask) == 520, "FileMask must be 520 bytes");
ACEKIT_STATIC_ASSERT(sizeof(ArcFileList) == 12, "ArcFileList must be 12 bytes");
ACEKIT_STATIC_ASSERT(sizeof(FileMaskList) == 8, "FileMaskList must be 8 bytes");
ACEKIT_STATIC_ASSERT(sizeof(CommentRec) == 28, "CommentRec must be 28 bytes");
ACEKIT_STATIC_ASSERT(sizeof(FindData) == 320, "FindData must be 320 bytes");
#endif

#ifdef __cplusplus
}
#endif

#endif /* ACEKIT_HOST_TYPES_H */
