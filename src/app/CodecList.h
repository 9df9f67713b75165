// `reelmoth --codecs`: what can decode sound on this machine, for someone
// checking an install.
#pragma once

#include <cstdio>

// Lists every module of the decoders folder with its driver's name and the
// format tags it decodes, or why it cannot be used; then the tags FFmpeg
// decodes and who is chosen first. Returns the exit status.
int print_codecs(FILE* out);
