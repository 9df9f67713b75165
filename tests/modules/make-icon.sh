#!/bin/sh
# Writes a 1x1 32-bit icon to $1: an icon directory with one entry, then the
# bitmap header, one pixel and its mask row.
set -e
{
  printf '\000\000\001\000\001\000'                                  # directory: 1 icon
  printf '\001\001\000\000\001\000\040\000\060\000\000\000\026\000\000\000' # 1x1, 32 bpp, 48 bytes at 22
  printf '\050\000\000\000\001\000\000\000\002\000\000\000\001\000\040\000' # BITMAPINFOHEADER
  printf '\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000'
  printf '\000\000\000\000\000\000\000\000'
  printf '\377\000\000\377'                                         # the pixel
  printf '\000\000\000\000'                                         # its mask row
} > "$1"
