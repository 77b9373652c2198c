/* A host in miniature, built against an installed acekit: it archives one
 * file, lists the archive and tests it. Usage: consumer WORK_DIR */
#include <exports.h>
#include <stdio.h>
#include <string.h>

static int check(const char* step) {
  const unsigned status = GetArchiveStatus();
  if (status != 0) fprintf(stderr, "consumer: %s: status %u\n", step, status);
  return status == 0;
}

int main(int argc, char** argv) {
  char input[512];
  char archive[512];
  FileMaskList masks;
  ArcFileList entries;
  FILE* f;
  int ok;

  if (argc != 2) return 2;
  snprintf(input, sizeof input, "%s/hello.txt", argv[1]);
  snprintf(archive, sizeof archive, "%s/hello.ace", argv[1]);
  f = fopen(input, "wb");
  if (f == NULL) return 2;
  fputs("hello from an installed acekit\n", f);
  fclose(f);
  remove(archive);

  CreateArcFile(archive);
  InitFileMaskList(&masks);
  AppendFileMask(input, &masks);
  CompressFileMaskListArc(&masks);
  DoneFileMaskList(&masks);
  ok = check("create");
  DoneArcFile();

  InitArcFile(archive);
  InitFileMaskList(&masks);
  InitArcFileList(&entries);
  BuildArcFileList(&entries, &masks);
  ok = check("list") && ok;
  if (entries.count != 1 || strstr(entries.first->name, "hello.txt") == NULL) {
    fprintf(stderr, "consumer: expected one entry hello.txt\n");
    ok = 0;
  }
  DoneArcFileList(&entries);
  TestArc();
  ok = check("test") && ok;
  DoneArcFile();
  if (ok) printf("consumer: created, listed and tested %s\n", archive);
  return ok ? 0 : 1;
}
