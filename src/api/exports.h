/* acekit public interface: the 45 exported functions. The records and
 * procedure types they take are in common/host_types.h, installed beside this
 * header. */
#ifndef ACEKIT_EXPORTS_H
#define ACEKIT_EXPORTS_H

#include <stdint.h>

#include "common/host_types.h"

#if defined(_WIN32)
#if defined(ACEKIT_BUILDING_LIBRARY)
#define ACEKIT_API __declspec(dllexport)
#else
#define ACEKIT_API
#endif
#else
#if defined(ACEKIT_BUILDING_LIBRARY)
#define ACEKIT_API __attribute__((visibility("default")))
#else
#define ACEKIT_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Lifecycle */
ACEKIT_API void ACEKIT_CALL InitArcFile(const char* name);
ACEKIT_API void ACEKIT_CALL CreateArcFile(const char* name);
ACEKIT_API int32_t ACEKIT_CALL DoneArcFile(void);

/* Status and options */
ACEKIT_API uint16_t ACEKIT_CALL GetArchiveStatus(void);
ACEKIT_API void ACEKIT_CALL SetArchiveStatus(uint16_t code);
ACEKIT_API void ACEKIT_CALL arOptionsOn(uint16_t mask);
ACEKIT_API void ACEKIT_CALL arOptionsOff(uint16_t mask);
ACEKIT_API int32_t ACEKIT_CALL arOptionsAreOn(uint16_t mask);

/* Paths and password. On posix `/` separates the parts of every path a host
 * hands over, as `\` does. A path may be as long as the system takes
 * (4095 characters on posix, 259 on Windows); an operation that would build
 * a longer one stores 5 and writes nothing under a shortened name. */
ACEKIT_API void ACEKIT_CALL SetInputPath(const char* path);
ACEKIT_API void ACEKIT_CALL SetOutputPath(const char* path);
ACEKIT_API void ACEKIT_CALL SetRelativePath(const char* path);
ACEKIT_API void ACEKIT_CALL SetCryptKey(const char* key);

/* Version and archiver description */
ACEKIT_API void ACEKIT_CALL GetVersionDesc(int32_t* version);
ACEKIT_API void ACEKIT_CALL GetArcerDesc(int32_t* desc);
ACEKIT_API int32_t ACEKIT_CALL GetArcerVerDesc(int32_t version, int32_t* desc);
ACEKIT_API void ACEKIT_CALL SetArcerStats(const int32_t* desc);
ACEKIT_API int32_t ACEKIT_CALL SetArcerVerStats(int32_t version, const int32_t* desc);

/* Host procedures */
ACEKIT_API void ACEKIT_CALL SetSetFileNameProc(ArcContext ctx, SetFileNameProcFn proc);
ACEKIT_API void ACEKIT_CALL SetSkipFileProc(ArcContext ctx, SkipFileProcFn proc);
ACEKIT_API void ACEKIT_CALL SetSetProgressProc(ArcContext ctx, SetProgressProcFn proc);
ACEKIT_API void ACEKIT_CALL SetOkToReplaceProc(ArcContext ctx, OkToReplaceProcFn proc);
ACEKIT_API void ACEKIT_CALL SetSetCryptKeyProc(ArcContext ctx, void* proc);
ACEKIT_API void ACEKIT_CALL SetGetNextDiskProc(ArcContext ctx, void* proc);
ACEKIT_API void ACEKIT_CALL SetSetSfxProgressProc(ArcContext ctx, void* proc);

/* Mask lists */
ACEKIT_API void ACEKIT_CALL InitFileMaskList(FileMaskList* list);
ACEKIT_API int32_t ACEKIT_CALL AppendFileMask(const char* mask, FileMaskList* list);
ACEKIT_API void ACEKIT_CALL DoneFileMaskList(FileMaskList* list);

/* Entry lists */
ACEKIT_API void ACEKIT_CALL InitArcFileList(ArcFileList* list);
ACEKIT_API void ACEKIT_CALL BuildArcFileList(ArcFileList* list, FileMaskList* masks);
ACEKIT_API void ACEKIT_CALL DoneArcFileList(ArcFileList* list);

/* Operations */
ACEKIT_API void ACEKIT_CALL CompressFileMaskListArc(FileMaskList* masks);
ACEKIT_API void ACEKIT_CALL ExtractFileMaskListArc(FileMaskList* masks);
ACEKIT_API void ACEKIT_CALL TestArc(void);
ACEKIT_API void ACEKIT_CALL DeleteFileMaskListArc(FileMaskList* masks);
ACEKIT_API void ACEKIT_CALL GetMainCommentArc(CommentRec* comment);
ACEKIT_API void ACEKIT_CALL SetMainCommentArc(CommentRec* comment);
ACEKIT_API void ACEKIT_CALL SetFileCommentsArc(FileMaskList* masks, CommentRec* comment);
ACEKIT_API void ACEKIT_CALL CreateDirectoryArc(const char* name);
/* features: 48 bytes (twelve 32-bit words); returns the library's copy */
ACEKIT_API void* ACEKIT_CALL SetExtraFeaturesArc(const void* features);
/* info: 23 32-bit words */
ACEKIT_API void ACEKIT_CALL GetExtraInfoArc(int32_t* info);

/* Unsupported operations */
ACEKIT_API void ACEKIT_CALL CreateArcSfx2(void);
ACEKIT_API void ACEKIT_CALL CreateExeArc(void);
ACEKIT_API void ACEKIT_CALL BuildUnDamagedArc(void);
ACEKIT_API void ACEKIT_CALL AddDamageProtXionArc(void);
ACEKIT_API void ACEKIT_CALL StripDamageProtXionArc(void);

#ifdef __cplusplus
}
#endif

#endif /* ACEKIT_EXPORTS_H */
