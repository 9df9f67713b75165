// FFmpeg's decoder libraries (codecs, picture scaling, sample conversion),
// opened at run time. Linked in, they and what
// they pull in (about half the process's shared libraries) would be loaded
// before main(); opened on a thread of their own they load while the display
// starts, which brings the first picture sooner.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

// The functions the media kit calls, each as its FFmpeg name.
#define REELMOTH_FFMPEG_FUNCTIONS(F)                                                               \
    F(av_log_set_level)                                                                            \
    F(av_mallocz)                                                                                  \
    F(av_free)                                                                                     \
    F(av_frame_alloc)                                                                              \
    F(av_frame_free)                                                                               \
    F(av_frame_unref)                                                                              \
    F(av_packet_alloc)                                                                             \
    F(av_packet_free)                                                                              \
    F(av_fast_padded_malloc)                                                                       \
    F(avcodec_descriptor_get_by_name)                                                              \
    F(avcodec_find_decoder)                                                                        \
    F(avcodec_alloc_context3)                                                                      \
    F(avcodec_free_context)                                                                        \
    F(avcodec_open2)                                                                               \
    F(avcodec_send_packet)                                                                         \
    F(avcodec_receive_frame)                                                                       \
    F(avcodec_flush_buffers)                                                                       \
    F(av_channel_layout_default)                                                                   \
    F(av_channel_layout_uninit)                                                                    \
    F(swr_alloc_set_opts2)                                                                         \
    F(swr_init)                                                                                    \
    F(swr_convert)                                                                                 \
    F(swr_get_out_samples)                                                                         \
    F(swr_free)                                                                                    \
    F(sws_getCachedContext)                                                                        \
    F(sws_scale)                                                                                   \
    F(sws_freeContext)

struct ffmpeg_library {
#define REELMOTH_FFMPEG_POINTER(name) decltype(&::name) name;
    REELMOTH_FFMPEG_FUNCTIONS(REELMOTH_FFMPEG_POINTER)
#undef REELMOTH_FFMPEG_POINTER
};

// Starts opening the libraries on a thread of their own; later calls do
// nothing.
void ffmpeg_preload();

// The libraries' functions, once opened (waiting for the preload, or
// opening them now when nobody started it); null when they cannot be opened,
// and the media kit then knows no decoder.
const ffmpeg_library* ffmpeg();
