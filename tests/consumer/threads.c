/* A program built against an installed acekit that uses the handle-based
 * interface from four threads at once: two read archives made beforehand,
 * two write archives of their own and read them back.
 * Usage: threads WORK_DIR */
#include <acekit/acekit.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kEntries = 6, kSize = 150000, kRounds = 3 };

static void fill(unsigned char* buf, size_t n, unsigned seed) {
  size_t i;
  for (i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    /* Half text-like, half noise, so both coding paths run. */
    buf[i] =
        (unsigned char)((i / 4096) % 2 ? (seed >> 24) : (unsigned)"abcdefgh"[(seed >> 24) & 7]);
  }
}

struct check {
  const unsigned char* want;
  size_t at;
  int bad;
};

static int compare(void* ctx, const void* data, size_t n) {
  struct check* c = (struct check*)ctx;
  if (c->at + n > kSize || memcmp(c->want + c->at, data, n) != 0) c->bad = 1;
  c->at += n;
  return 0;
}

static int write_archive(const char* path, unsigned seed, int solid) {
  acekit_writer* w;
  acekit_options o;
  unsigned char* buf = malloc(kSize);
  int i, rc;
  char name[32];
  memset(&o, 0, sizeof o);
  o.solid = solid;
  o.dictionary_kb = 256;
  if (buf == NULL) return -1;
  rc = acekit_writer_create(&w, path, &o);
  for (i = 0; rc == 0 && i < kEntries; ++i) {
    fill(buf, kSize, seed + (unsigned)i);
    snprintf(name, sizeof name, "dir/entry%d.dat", i);
    rc = acekit_writer_add_memory(w, name, buf, kSize, 1262401444, 0);
  }
  if (rc == 0) {
    rc = acekit_writer_finish(w);
  } else {
    fprintf(stderr, "threads: %s: %s\n", path, acekit_last_error(w));
    acekit_writer_abort(w);
  }
  free(buf);
  return rc;
}

static int read_archive(const char* path, unsigned seed) {
  acekit_reader* r;
  acekit_entry e;
  unsigned char* want = malloc(kSize);
  int n = 0, rc;
  if (want == NULL) return -1;
  rc = acekit_reader_open(&r, path);
  if (rc != 0) {
    fprintf(stderr, "threads: %s: %s\n", path, acekit_last_error(NULL));
    free(want);
    return rc;
  }
  while ((rc = acekit_reader_next(r, &e)) == 1) {
    struct check c;
    fill(want, kSize, seed + (unsigned)n);
    c.want = want;
    c.at = 0;
    c.bad = 0;
    rc = acekit_reader_read(r, compare, &c);
    if (rc != 0 || c.bad || c.at != kSize || e.size != kSize) {
      fprintf(stderr, "threads: %s: entry %d wrong (%s)\n", path, n, acekit_last_error(r));
      rc = -1;
      break;
    }
    ++n;
  }
  acekit_reader_close(r);
  free(want);
  return rc == 0 && n == kEntries ? 0 : -1;
}

struct job {
  char path[600];
  unsigned seed;
  int solid, writes, result;
};

static void* run(void* arg) {
  struct job* j = (struct job*)arg;
  int round;
  j->result = 0;
  for (round = 0; round < kRounds && j->result == 0; ++round) {
    if (j->writes) j->result = write_archive(j->path, j->seed, j->solid);
    if (j->result == 0) j->result = read_archive(j->path, j->seed);
  }
  return NULL;
}

int main(int argc, char** argv) {
  struct job jobs[4];
  pthread_t threads[4];
  int i, ok = 1;
  if (argc != 2) return 2;
  for (i = 0; i < 4; ++i) {
    snprintf(jobs[i].path, sizeof jobs[i].path, "%s/t%d.ace", argv[1], i);
    jobs[i].seed = 1000u * (unsigned)i;
    jobs[i].solid = i % 2;
    jobs[i].writes = i >= 2;
    /* The readers' archives exist before the threads start. */
    if (!jobs[i].writes && write_archive(jobs[i].path, jobs[i].seed, jobs[i].solid) != 0) return 1;
  }
  for (i = 0; i < 4; ++i) {
    if (pthread_create(&threads[i], NULL, run, &jobs[i]) != 0) return 1;
  }
  for (i = 0; i < 4; ++i) {
    pthread_join(threads[i], NULL);
    if (jobs[i].result != 0) ok = 0;
  }
  if (ok) printf("threads: two readers and two writers ran at once (%s)\n", acekit_version());
  return ok ? 0 : 1;
}
