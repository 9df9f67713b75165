// Replacements: C-runtime and heap allocation.
#pragma once

#include "platform/SupportDefs.h"

uint32 exp_malloc(uint32 size);
void exp_free(uint32 block);
uint32 exp_new(uint32 size);
void exp_delete(uint32 block);
uint32 exp_initterm(uint32 begin, uint32 end);
