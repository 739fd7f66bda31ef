/*
 * The library-access layer: vek (library definitions, string copies) and
 * kwoCommon (the setup-file search).  The bridge calls these once, from
 * ZelConfig.init, and uses kwoCopyString for the word lists it joins.
 */
#ifndef ZELVEK_VEK_H
#define ZELVEK_VEK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Handed to vekInitialize; the layer may call it back with its own data. */
typedef int (*VekInitCallback)(void* data);

/* kwoCommon */
int mipInitialize(int32_t* state);
/* Looks for the setup file `name`; writes its path into buffer only when it
 * fits in size bytes with its NUL, and answers 0 exactly then. */
int mipSearch(int32_t where, const char* name, char* buffer, int32_t size);

/* vek */
/* Reads the library-definitions file at path (null: no libraries).  After it
 * the functions of zelvek can be called. */
int vekInitialize(const char* path, VekInitCallback callback, int32_t* state);
/* A malloc'd copy of text (null for null); give it back with kwoFreeString. */
char* kwoCopyString(const char* text);
void kwoFreeString(char* copy);
/* The calling thread as a message names it, NUL-terminated in buffer
 * (shortened to size). */
void vekDescribeThread(char* buffer, int32_t size);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZELVEK_VEK_H */
