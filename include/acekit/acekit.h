/* acekit: reading, writing and changing ACE archives.
 *
 * C-compatible (C99). Every piece of state lives in the handles below, so
 * different handles may be used from different threads at the same time; a
 * single handle must not be used by two threads at once. Nothing here shares
 * state with the host interface of exports.h.
 *
 * Conventions:
 *  - Every function that can fail returns 0 (or a count, where said) on
 *    success and a negative ACEKIT_E_... code on failure. acekit_strerror()
 *    gives a fixed English text for a code, acekit_last_error() the message of
 *    a handle's last failure with the path involved and the system's reason.
 *  - Names inside archives are UTF-8 with '/' between parts. Disk paths are
 *    the system's (UTF-8 on POSIX) and may have any length.
 *  - Sizes are 64-bit, times are Unix seconds (UTC). The archive format
 *    itself keeps sizes below 4 GB and times to two seconds from 1980 to 2107.
 *  - Nothing is thrown, nothing is printed, nothing is read from the
 *    environment. */
#ifndef ACEKIT_ACEKIT_H
#define ACEKIT_ACEKIT_H

#include <stddef.h>
#include <stdint.h>

#if !defined(_WIN32) && defined(ACEKIT_BUILDING_LIBRARY)
#define ACEKIT_PUBLIC __attribute__((visibility("default")))
#else
/* The Windows DLL exports the host interface of exports.h only. */
#define ACEKIT_PUBLIC
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Errors ------------------------------------------------------------ */
enum {
  ACEKIT_OK = 0,
  ACEKIT_E_INVALID = -1,      /* a null or malformed argument, or a call out of order */
  ACEKIT_E_NOMEM = -2,        /* out of memory */
  ACEKIT_E_OPEN = -3,         /* a file or directory cannot be opened or created */
  ACEKIT_E_READ = -4,         /* a read failed or ended early */
  ACEKIT_E_WRITE = -5,        /* a write failed (disk full) */
  ACEKIT_E_NOT_ARCHIVE = -6,  /* no archive header found */
  ACEKIT_E_CORRUPT = -7,      /* damaged headers or data */
  ACEKIT_E_CRC = -8,          /* the data does not match its checksum */
  ACEKIT_E_ENCRYPTED = -9,    /* encrypted entries cannot be read */
  ACEKIT_E_UNSUPPORTED = -10, /* a method or archive kind this library does not handle */
  ACEKIT_E_CANCELLED = -11,   /* a progress or sink callback asked to stop */
  ACEKIT_E_EXISTS = -12,      /* the entry is there already */
  ACEKIT_E_NOT_FOUND = -13,   /* no such file or entry */
  ACEKIT_E_UNSAFE = -14,      /* extraction would leave the target folder */
  ACEKIT_E_TOO_LARGE = -15,   /* a size, name or comment beyond what the format holds */
  ACEKIT_E_READ_ONLY = -16    /* the archive is locked against changes */
};

const char* acekit_version(void) ACEKIT_PUBLIC;
const char* acekit_strerror(int code) ACEKIT_PUBLIC;
/* The message of the handle's last failure ("" when none). With a null
 * handle: the calling thread's last failed open or create, which leaves no
 * handle behind. Valid until the next call on that handle (or thread). */
const char* acekit_last_error(const void* handle) ACEKIT_PUBLIC;

/* Progress of long work: `percent` of the current entry, 0..100. Return
 * non-zero to cancel; the call then fails with ACEKIT_E_CANCELLED. */
typedef int (*acekit_progress)(void* ctx, int percent);

/* ---- Reading ----------------------------------------------------------- */
typedef struct acekit_reader acekit_reader;
typedef struct acekit_entry {
  const char* name; /* UTF-8, '/'-separated, valid until the next call on the reader */
  uint64_t size, packed_size;
  int64_t mtime;              /* Unix seconds, UTC */
  uint32_t crc32, attributes; /* crc32: the common CRC-32; attributes: the DOS bits as stored */
  int is_dir, is_encrypted;
  const char* comment; /* UTF-8 or NULL */
} acekit_entry;

int acekit_reader_open(acekit_reader** r, const char* path) ACEKIT_PUBLIC;
/* 1: *e describes the next entry; 0: no more entries; <0: error. */
int acekit_reader_next(acekit_reader* r, acekit_entry* e) ACEKIT_PUBLIC;
/* Receives decoded data; non-zero stops the read with ACEKIT_E_CANCELLED. */
typedef int (*acekit_sink)(void* ctx, const void* data, size_t n);
/* Decodes the entry the last acekit_reader_next returned into `sink` and
 * checks its CRC; ACEKIT_E_CRC when it does not match (the sink has seen the
 * data by then). Entries may be skipped without reading them. */
int acekit_reader_read(acekit_reader* r, acekit_sink sink, void* ctx) ACEKIT_PUBLIC;
/* Extracts the entry the last acekit_reader_next returned below `dir`, under
 * its name (see acekit_reader_extract_all for the rules). */
int acekit_reader_extract(acekit_reader* r, const char* dir, unsigned flags) ACEKIT_PUBLIC;
/* Extracts every entry not yet returned by acekit_reader_next (after open:
 * the whole archive) below `dir`, which is created when missing. Names are
 * confined to `dir`: an absolute name or one with a ".." part fails with
 * ACEKIT_E_UNSAFE, and so does a path that would pass through a symbolic
 * link inside `dir`. Each file is decoded into a temporary file beside its
 * target and renamed into place only after its CRC matched; an existing file
 * is replaced unless ACEKIT_EXTRACT_KEEP is given. Returns the number of
 * files and directories written, or <0 at the first failure. */
#define ACEKIT_EXTRACT_KEEP 1u
int acekit_reader_extract_all(acekit_reader* r, const char* dir, unsigned flags) ACEKIT_PUBLIC;
/* Salvage: acekit_reader_next checks every header's checksum and does not
 * stop at a damaged header: it looks for the next header whose checksum
 * holds and goes on from there. A damaged solid stream is taken up again at
 * the next entry that starts a fresh one. acekit_reader_damage tells what
 * was met. Set before the first acekit_reader_next. */
#define ACEKIT_READER_SALVAGE 1u
int acekit_reader_set_flags(acekit_reader* r, unsigned flags) ACEKIT_PUBLIC;
/* What salvage met: about the entry the last acekit_reader_next returned,
 * or, once it returned 0, about the end of the archive. */
#define ACEKIT_DAMAGE_HEADER 1u /* its header fails its checksum; its sizes still lead on */
#define ACEKIT_DAMAGE_GAP                                                                         \
  2u                         /* bytes in front of it (or at the end) could not be read as headers \
                              */
#define ACEKIT_DAMAGE_CUT 4u /* the file ends inside its data */
#define ACEKIT_DAMAGE_TRUNCATED 8u /* (end) the file ends inside a header or an entry's data */
#define ACEKIT_DAMAGE_LOST 16u     /* it continues a solid stream that failed before it */
typedef struct acekit_damage {
  unsigned flags;      /* ACEKIT_DAMAGE_... */
  uint64_t offset;     /* where its header starts; at the end: the file's size */
  uint64_t gap_offset; /* GAP: where the unreadable bytes start */
  uint64_t gap_size;   /* GAP: how many there are */
} acekit_damage;
int acekit_reader_damage(acekit_reader* r, acekit_damage* d) ACEKIT_PUBLIC;
/* Extracting or testing the rest of the archive in one run, as a program
 * extracting for a person does: large and small entries of a normal archive
 * are decoded on worker threads (see acekit_reader_set_threads) while every
 * callback below comes on the calling thread, in archive order, with the
 * same arguments whatever the thread count. The walk salvages as
 * ACEKIT_READER_SALVAGE does (the flag is implied), and a damaged entry does
 * not end the run: in a normal archive the next entry is taken up, in a
 * solid one the next that starts a fresh stream, and the entries lost in
 * between are named. Files are written as acekit_reader_extract_all writes
 * them, except that a name's ".." parts and leading separators are dropped
 * instead of refused (the SELECT event can refuse them). */
enum {
  ACEKIT_EVENT_SELECT = 1, /* take the entry? 1 takes it, 0 passes it over */
  ACEKIT_EVENT_START,      /* about to be decoded; `path` is where it goes ("" when
                              that path would be too long, NULL when testing) */
  ACEKIT_EVENT_EXISTS,     /* `path` is there already: answer ACEKIT_REPLACE,
                              ACEKIT_KEEP or ACEKIT_STOP */
  ACEKIT_EVENT_DONE,       /* written (or tested) and its CRC matched */
  ACEKIT_EVENT_DAMAGED,    /* cannot be decoded (`error`); the run goes on */
  ACEKIT_EVENT_LOST,       /* continues a solid stream that failed before it */
  ACEKIT_EVENT_FAILED      /* cannot be written (`error`, `message`): 0 goes on with
                              the next entry, anything else ends the run */
};
enum { ACEKIT_REPLACE = 0, ACEKIT_KEEP = 1, ACEKIT_STOP = 2 };
typedef struct acekit_event {
  int kind;                    /* ACEKIT_EVENT_... */
  const acekit_entry* entry;   /* the entry it is about */
  const acekit_damage* damage; /* what the walk met in front of and at it */
  const char* path;            /* the file on disk (START, EXISTS, DONE, FAILED) */
  int error;                   /* DAMAGED, FAILED: an ACEKIT_E_... code */
  const char* message;         /* DAMAGED, FAILED: what went wrong, with the path */
  /* EXISTS: what stands at `path` */
  int existing_is_dir;
  uint64_t existing_size;
  int64_t existing_mtime;
} acekit_event;
typedef int (*acekit_event_fn)(void* ctx, const acekit_event* event);
#define ACEKIT_EACH_FLAT 1u /* every file under its last part only; directories passed over */
#define ACEKIT_EACH_TEST 2u /* decode and check, write nothing (`dir` may be NULL) */
/* Runs over every entry not yet returned by acekit_reader_next; a solid
 * archive only straight after acekit_reader_open (ACEKIT_E_INVALID
 * otherwise). A null `fn` takes every entry and replaces what is there.
 * Returns the number of entries written or tested (damaged, lost and kept
 * ones not counted), ACEKIT_E_CANCELLED when the progress callback or an
 * EXISTS answer stopped it, or another code when a FAILED event ended it or
 * nothing could be started. */
int acekit_reader_extract_each(acekit_reader* r, const char* dir, unsigned flags,
                               acekit_event_fn fn, void* ctx) ACEKIT_PUBLIC;
/* The threads acekit_reader_extract_each may decode on, 1 to 16 (larger
 * counts as 16); 0, the default: the library's choice. 1 decodes on the
 * calling thread only. The results never depend on it. */
int acekit_reader_set_threads(acekit_reader* r, int threads) ACEKIT_PUBLIC;
/* What the archive says about itself. */
typedef struct acekit_archive_info {
  int version_major, version_minor; /* the format version needed to read it */
  int is_solid;
  const char* host_system; /* the system that made it: "MS-DOS", "Unix", ..., "unknown" */
  int has_recovery_record; /* one was passed over: final once acekit_reader_next returned 0 */
} acekit_archive_info;
int acekit_reader_info(acekit_reader* r, acekit_archive_info* info) ACEKIT_PUBLIC;
/* What the header of the entry the last acekit_reader_next returned holds
 * beyond acekit_entry. */
typedef struct acekit_entry_details {
  uint32_t dictionary_kb; /* the window it was compressed with */
  int is_stored;          /* kept as it is, not compressed */
  uint64_t header_offset; /* where its header starts in the file */
} acekit_entry_details;
int acekit_reader_details(acekit_reader* r, acekit_entry_details* d) ACEKIT_PUBLIC;
const char* acekit_reader_comment(acekit_reader* r) ACEKIT_PUBLIC; /* main comment, UTF-8 or NULL */
int acekit_reader_is_solid(acekit_reader* r) ACEKIT_PUBLIC;        /* 1 solid, 0 not */
int acekit_reader_set_progress(acekit_reader* r, acekit_progress fn, void* ctx) ACEKIT_PUBLIC;
void acekit_reader_close(acekit_reader* r) ACEKIT_PUBLIC;

/* ---- Writing a new archive --------------------------------------------- */
/* What a writer or an editor meets on its way, for a host that names each
 * file as it goes, keeps a running total of bytes, or decides about a file
 * it cannot read. Set with acekit_writer_set_events or
 * acekit_editor_set_events; the event and its texts are valid during the
 * call only. The answer: 0 goes on; non-zero cancels (ACEKIT_E_CANCELLED;
 * after a FILE event it may take until the next BYTES or PHASE event),
 * except for ACEKIT_CHANGE_UNREADABLE, where it stops the change with that
 * file's error instead of leaving the file out. */
enum {
  ACEKIT_CHANGE_FILE = 1,       /* an entry is written (or, in a rebuild, unpacked or deleted):
                                 * name; path: a writer's disk file, else NULL */
  ACEKIT_CHANGE_BYTES = 2,      /* bytes: how many more of the input have been taken in */
  ACEKIT_CHANGE_UNREADABLE = 3, /* path vanished or cannot be read (error: ACEKIT_E_NOT_FOUND or
                                 * ACEKIT_E_OPEN); 0 leaves it out and goes on */
  ACEKIT_CHANGE_PHASE = 4 /* a solid archive's rebuild begins a pass: name is "unpacking" (the old
                           * entries into a private folder) or "compressing" (into one stream);
                           * BYTES then count that pass */
};
typedef struct acekit_change {
  int kind;         /* ACEKIT_CHANGE_... */
  const char* name; /* FILE: the entry's name, UTF-8, '/'-separated; PHASE: the pass */
  const char* path; /* FILE, UNREADABLE: the disk path, or NULL */
  uint64_t bytes;   /* BYTES */
  int error;        /* UNREADABLE */
} acekit_change;
typedef int (*acekit_change_fn)(void* ctx, const acekit_change* event);

typedef struct acekit_writer acekit_writer;
typedef struct acekit_options {
  uint32_t dictionary_kb; /* 64, 128, 256, 512 or 1024; 0: 64 */
  int level;              /* 1 (fastest) .. 4 (best); 0: 1 */
  int solid;              /* non-zero: one stream for every file, ordered by type */
  int threads;            /* 0: the library's choice */
} acekit_options;

/* Starts a new archive at `path`. It is built in a temporary file beside
 * `path` (named .acekit-...) and takes the name only at finish, replacing a
 * file that was there. NULL o: the defaults. */
int acekit_writer_create(acekit_writer** w, const char* path,
                         const acekit_options* o) ACEKIT_PUBLIC;
/* Adds a file or (as an entry of its own) a directory from disk; its time
 * and attributes come from disk. Files from disk are written together, at
 * the next entry of another kind or at finish, so that the files ahead of
 * the one being compressed are read and parsed meanwhile: a failure while
 * reading one of them fails that later call and the writer with it. */
int acekit_writer_add_file(acekit_writer* w, const char* disk_path, const char* name) ACEKIT_PUBLIC;
/* attributes: DOS bits; 0 gives 0x20 (archive). Entries stay below 2 GB. */
int acekit_writer_add_memory(acekit_writer* w, const char* name, const void* data, size_t n,
                             int64_t mtime, uint32_t attributes) ACEKIT_PUBLIC;
int acekit_writer_add_directory(acekit_writer* w, const char* name, int64_t mtime) ACEKIT_PUBLIC;
/* The main comment (NULL or "": none), at most 32766 bytes. It is written
 * at finish by the rewrite the host interface uses, which needs the target
 * path to stay below 240 bytes (ACEKIT_E_TOO_LARGE otherwise). */
int acekit_writer_set_comment(acekit_writer* w, const char* utf8) ACEKIT_PUBLIC;
int acekit_writer_set_progress(acekit_writer* w, acekit_progress fn, void* ctx) ACEKIT_PUBLIC;
/* Events while the archive is written (NULL fn: none). Without them a file
 * that vanished or cannot be read fails the call that writes it; with them
 * the host is asked, from acekit_writer_add_file too. */
int acekit_writer_set_events(acekit_writer* w, acekit_change_fn fn, void* ctx) ACEKIT_PUBLIC;
/* Completes the archive and publishes it atomically; frees w either way.
 * On failure nothing is left behind and acekit_last_error(NULL) tells why. */
int acekit_writer_finish(acekit_writer* w) ACEKIT_PUBLIC;
/* Leaves nothing behind; frees w. */
void acekit_writer_abort(acekit_writer* w) ACEKIT_PUBLIC;

/* ---- Changing an existing archive -------------------------------------- */
/* Every change rebuilds the archive into a temporary file beside it and
 * swaps it in, so a failure leaves the archive as it was. New data is
 * compressed with the archive's own dictionary unless `o` gives one: then
 * new entries of a normal archive take it, and a solid archive, which every
 * change compresses again whole, is compressed with it. `o` gives the
 * level and the threads a rebuild compresses on. The rebuilding engine
 * keeps paths in fixed buffers: the archive's path must stay below 245
 * bytes (ACEKIT_E_TOO_LARGE otherwise). */
typedef struct acekit_editor acekit_editor;
int acekit_editor_open(acekit_editor** e, const char* path, const acekit_options* o) ACEKIT_PUBLIC;
/* Adds a file or directory from disk, replacing an entry of the same name
 * (names compare without regard to case). The last part of `name` must be
 * the file's own name; the parts in front of it may be anything. */
int acekit_editor_add_file(acekit_editor* e, const char* disk_path, const char* name) ACEKIT_PUBLIC;
/* Adds the files and directories at the `count` disk paths in one rebuild,
 * each under its path as given, without a leading '/' or drive; an entry of
 * the same name is replaced. With ACEKIT_ADD_NAMES_ONLY each goes in under
 * its last part alone. A directory is an entry of its own; what lies in it
 * is not added. A file that vanished or cannot be read fails the call
 * unless the editor has events (see acekit_change). */
#define ACEKIT_ADD_NAMES_ONLY 1u
int acekit_editor_add_paths(acekit_editor* e, const char* const* paths, size_t count,
                            unsigned flags) ACEKIT_PUBLIC;
/* Removes the entries named (ACEKIT_E_NOT_FOUND when none is). */
int acekit_editor_delete(acekit_editor* e, const char* name) ACEKIT_PUBLIC;
/* Removes the `count` entries named in one rebuild, which for a solid
 * archive is what takes the time. Names that are not there are passed over;
 * ACEKIT_E_NOT_FOUND when none is, and nothing changes. An archive is not
 * left without entries: deleting every one of them fails with
 * ACEKIT_E_INVALID. */
int acekit_editor_delete_list(acekit_editor* e, const char* const* names,
                              size_t count) ACEKIT_PUBLIC;
/* Adds an empty directory entry, such as "docs" or "docs/drafts/old"
 * (ACEKIT_E_EXISTS when there is one). Only the named entry is added, not
 * entries for the folders in front of it; its last part may not hold
 * ? * < > : " | nor be AUX, CON or PRN (ACEKIT_E_INVALID). */
int acekit_editor_add_directory(acekit_editor* e, const char* name) ACEKIT_PUBLIC;
int acekit_editor_set_comment(acekit_editor* e, const char* utf8) ACEKIT_PUBLIC;
int acekit_editor_set_entry_comment(acekit_editor* e, const char* name,
                                    const char* utf8) ACEKIT_PUBLIC;
int acekit_editor_set_progress(acekit_editor* e, acekit_progress fn, void* ctx) ACEKIT_PUBLIC;
/* Events while the archive is rebuilt (NULL fn: none); see acekit_change. */
int acekit_editor_set_events(acekit_editor* e, acekit_change_fn fn, void* ctx) ACEKIT_PUBLIC;
void acekit_editor_close(acekit_editor* e) ACEKIT_PUBLIC;

#ifdef __cplusplus
}
#endif

#endif /* ACEKIT_ACEKIT_H */
