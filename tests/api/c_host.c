/* A minimal host written in C. It knows the library only through exports.h
 * and the names in the export list, which it resolves one by one at run
 * time; then it drives a few calls whose results it can check without an
 * archive. Exit code 0 means every check held. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "exports.h"

#if defined(_WIN32)
#include <windows.h>
typedef HMODULE Module;
static Module OpenLib(const char* path) {
  return LoadLibraryA(path);
}
static void* Sym(Module m, const char* name) {
  return (void*)GetProcAddress(m, name);
}
#else
#include <dlfcn.h>
typedef void* Module;
static Module OpenLib(const char* path) {
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}
static void* Sym(Module m, const char* name) {
  return dlsym(m, name);
}
#endif

static int failures = 0;
#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

typedef int32_t(ACEKIT_CALL* IntVoid)(void);
typedef uint16_t(ACEKIT_CALL* StatusGet)(void);
typedef void(ACEKIT_CALL* StatusSet)(uint16_t);
typedef void(ACEKIT_CALL* Mask16)(uint16_t);
typedef int32_t(ACEKIT_CALL* MaskTest)(uint16_t);
typedef void(ACEKIT_CALL* IntPtr)(int32_t*);
typedef int32_t(ACEKIT_CALL* VerDesc)(int32_t, int32_t*);
typedef void(ACEKIT_CALL* VoidVoid)(void);

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: c_host LIBRARY EXPORT_LIST\n");
    return 2;
  }
  Module lib = OpenLib(argv[1]);
  if (!lib) {
    fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }

  /* Every listed name must resolve. */
  FILE* list = fopen(argv[2], "r");
  if (!list) {
    fprintf(stderr, "cannot read %s\n", argv[2]);
    return 1;
  }
  char name[128];
  int names = 0;
  while (fscanf(list, "%127s", name) == 1) {
    ++names;
    if (!Sym(lib, name)) {
      fprintf(stderr, "export %s not found\n", name);
      ++failures;
    }
  }
  fclose(list);
  CHECK(names > 0);

  IntPtr get_version = (IntPtr)Sym(lib, "GetVersionDesc");
  StatusGet get_status = (StatusGet)Sym(lib, "GetArchiveStatus");
  StatusSet set_status = (StatusSet)Sym(lib, "SetArchiveStatus");
  Mask16 opt_on = (Mask16)Sym(lib, "arOptionsOn");
  Mask16 opt_off = (Mask16)Sym(lib, "arOptionsOff");
  MaskTest opt_are_on = (MaskTest)Sym(lib, "arOptionsAreOn");
  IntVoid done = (IntVoid)Sym(lib, "DoneArcFile");
  IntPtr get_desc = (IntPtr)Sym(lib, "GetArcerDesc");
  VerDesc get_ver_desc = (VerDesc)Sym(lib, "GetArcerVerDesc");
  VoidVoid sfx = (VoidVoid)Sym(lib, "CreateArcSfx2");
  if (failures) return 1;

  int32_t version = 0;
  get_version(&version);
  CHECK(version == 12);

  set_status(1234);
  CHECK(get_status() == 1234);
  sfx();
  CHECK(get_status() == 1234);

  opt_on(0x10);
  CHECK(opt_are_on(0x10));
  CHECK(!opt_are_on(0x11));
  opt_off(0x10);
  CHECK(!opt_are_on(0x10));

  int32_t desc[10];
  memset(desc, 0x55, sizeof desc);
  get_desc(desc);
  CHECK(desc[0] == 2047 && desc[1] == 12 && desc[7] == 64 && desc[8] == 0);
  memset(desc, 0x55, sizeof desc);
  CHECK(get_ver_desc(11, desc) == 9964);
  CHECK(desc[0] == 0x55555555);
  CHECK(get_ver_desc(12, desc) == 0);
  CHECK(desc[1] == 12);

  CHECK(done() == 0);
  CHECK(get_status() == 0);

  if (failures) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  printf("c_host: %d exports resolved, all checks passed\n", names);
  return 0;
}
