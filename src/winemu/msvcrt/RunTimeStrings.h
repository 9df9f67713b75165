// Replacements: the C run-time's memory and string functions, and the
// kernel's string calls, on module memory. Every pointer is checked: a
// pointer outside the module address space (or a string running past its
// end) makes the call do nothing and give 0 (null for pointer results).
#pragma once

#include "platform/support/SupportDefs.h"

uint32 exp_memcpy(uint32 target, uint32 source, uint32 size);
uint32 exp_memmove(uint32 target, uint32 source, uint32 size);
uint32 exp_memset(uint32 target, int32 value, uint32 size);
int32 exp_memcmp(uint32 a, uint32 b, uint32 size);
uint32 exp_memchr(uint32 block, int32 value, uint32 size);
uint32 exp_strlen(uint32 text);
int32 exp_strcmp(uint32 a, uint32 b);
int32 exp_strncmp(uint32 a, uint32 b, uint32 count);
uint32 exp_strcpy(uint32 target, uint32 source);
uint32 exp_strncpy(uint32 target, uint32 source, uint32 count);
uint32 exp_strcat(uint32 target, uint32 source);
uint32 exp_strncat(uint32 target, uint32 source, uint32 count);
uint32 exp_strchr(uint32 text, int32 c);
uint32 exp_strrchr(uint32 text, int32 c);
uint32 exp_strstr(uint32 text, uint32 part);
uint32 exp_strspn(uint32 text, uint32 set);
uint32 exp_strcspn(uint32 text, uint32 set);
uint32 exp_strpbrk(uint32 text, uint32 set);
uint32 exp_strdup(uint32 text);
int32 exp_stricmp(uint32 a, uint32 b);
int32 exp_strnicmp(uint32 a, uint32 b, uint32 count);
int32 exp_tolower(int32 c);
uint32 exp_wcslen(uint32 text);
int32 exp_wcsncmp(uint32 a, uint32 b, uint32 count);

uint32 exp_lstrlenA(uint32 text);
uint32 exp_lstrlenW(uint32 text);
uint32 exp_lstrcpyA(uint32 target, uint32 source);
int32 exp_lstrcmpiA(uint32 a, uint32 b);
