#pragma once
// The FFmpeg functions Kelvaro calls, one typed slot per name, grouped by the library that
// exports them. Each list is written once and generates both the slots and the name table
// the loader walks, so a slot always has the installed header's exact signature.
//
// Nothing in Kelvaro calls an FFmpeg function except through these slots; the product never
// links the libraries. Slots are written once by the loader, before any job exists, and only
// read afterwards.

#include <cstdint>  // before the C headers: libavutil wants UINT64_C
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/fifo.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <vector>

#include "medialib/media_library.h"

namespace kelvaro {

// clang-format off
#define KELVARO_AVUTIL_FUNCTIONS(X)                                                            \
    X(av_log_set_callback) X(av_log_default_callback) X(av_log_get_level) X(av_log_set_level)  \
    X(av_log) X(av_default_item_name) X(av_strlcpy) X(av_strstart) X(av_reduce)                \
    X(av_rescale_q) X(av_rescale) X(av_rescale_rnd) X(av_d2q) X(av_find_nearest_q_idx)         \
    X(av_strdup) X(av_memdup) X(av_malloc) X(av_mallocz) X(av_realloc) X(av_free) X(av_freep)  \
    X(av_fast_realloc) X(av_strerror) X(av_gettime) X(av_gettime_relative) X(av_usleep)        \
    X(av_fifo_alloc2) X(av_fifo_freep2) X(av_fifo_can_read) X(av_fifo_can_write)               \
    X(av_fifo_grow2) X(av_fifo_read) X(av_fifo_write)                                          \
    X(av_opt_find) X(av_opt_set) X(av_opt_get) X(av_opt_get_int) X(av_opt_set_int)             \
    X(av_opt_next) X(av_opt_free) X(av_opt_child_class_iterate)                                \
    X(av_dict_set) X(av_dict_get) X(av_dict_copy) X(av_dict_count) X(av_dict_free)             \
    X(av_frame_alloc) X(av_frame_free) X(av_frame_unref) X(av_frame_get_buffer)                \
    X(av_frame_make_writable) X(av_frame_move_ref) X(av_frame_ref) X(av_frame_is_writable)     \
    X(av_frame_apply_cropping)                                                                 \
    X(av_channel_layout_default) X(av_channel_layout_copy) X(av_channel_layout_uninit)         \
    X(av_channel_layout_compare)                                                               \
    X(av_get_sample_fmt_name) X(av_get_bytes_per_sample) X(av_sample_fmt_is_planar)            \
    X(av_samples_set_silence)                                                                  \
    X(av_get_pix_fmt) X(av_get_pix_fmt_name) X(av_get_pix_fmt_string) X(av_pix_fmt_desc_next)  \
    X(av_pix_fmt_desc_get) X(av_pix_fmt_desc_get_id) X(av_pix_fmt_get_chroma_sub_sample)       \
    X(av_image_alloc) X(av_image_copy) X(av_image_copy_plane) X(av_image_fill_arrays)          \
    X(av_image_get_buffer_size)                                                                \
    X(av_parse_video_rate) X(av_parse_video_size) X(av_parse_time)                             \
    X(av_get_picture_type_char) X(av_get_media_type_string)

#define KELVARO_AVCODEC_FUNCTIONS(X)                                                           \
    X(avcodec_find_encoder_by_name) X(avcodec_find_decoder_by_name) X(avcodec_find_encoder)    \
    X(avcodec_find_decoder) X(avcodec_get_name) X(avcodec_get_class)                           \
    X(avcodec_alloc_context3) X(avcodec_free_context) X(avcodec_open2) X(avcodec_flush_buffers)  \
    X(avcodec_parameters_from_context) X(avcodec_parameters_to_context)                        \
    X(avcodec_parameters_copy)                                                                 \
    X(avcodec_send_packet) X(avcodec_receive_frame) X(avcodec_send_frame)                      \
    X(avcodec_receive_packet) X(avcodec_decode_subtitle2) X(avcodec_encode_subtitle)           \
    X(avsubtitle_free)                                                                         \
    X(av_packet_alloc) X(av_packet_free) X(av_packet_unref) X(av_packet_ref)                   \
    X(av_packet_rescale_ts) X(av_packet_get_side_data)                                         \
    X(av_bsf_get_by_name) X(av_bsf_alloc) X(av_bsf_init) X(av_bsf_free)                        \
    X(av_bsf_send_packet) X(av_bsf_receive_packet)

#define KELVARO_AVFORMAT_FUNCTIONS(X)                                                          \
    X(avformat_alloc_context) X(avformat_alloc_output_context2) X(avformat_free_context)       \
    X(avformat_get_class) X(avformat_open_input) X(avformat_close_input)                       \
    X(avformat_find_stream_info) X(avformat_new_stream) X(avformat_write_header)               \
    X(av_write_trailer) X(av_interleaved_write_frame) X(av_read_frame) X(av_seek_frame)        \
    X(av_guess_format) X(av_guess_codec) X(av_find_input_format) X(av_filename_number_test)    \
    X(avio_open) X(avio_open2) X(avio_closep) X(avio_seek) X(avio_size) X(avio_flush)          \
    X(avio_find_protocol_name)                                                                 \
    X(avio_alloc_context) X(avio_context_free) X(av_probe_input_buffer2)                       \
    X(av_codec_get_id) X(av_codec_get_tag) X(av_sdp_create) X(av_pkt_dump_log2)                \
    X(av_dump_format) X(av_stream_get_end_pts) X(av_stream_new_side_data)

#define KELVARO_SWSCALE_FUNCTIONS(X)                                                           \
    X(sws_scale) X(sws_getContext) X(sws_freeContext) X(sws_alloc_context) X(sws_get_class)

#define KELVARO_SWRESAMPLE_FUNCTIONS(X)                                                        \
    X(swr_alloc_set_opts2) X(swr_init) X(swr_convert) X(swr_free) X(swr_set_compensation)      \
    X(swr_get_out_samples) X(swr_get_delay)

// clang-format on

#define KELVARO_DECLARE_SLOT(name) decltype(&::name) name = nullptr;

struct AvUtilFunctions {
    KELVARO_AVUTIL_FUNCTIONS(KELVARO_DECLARE_SLOT)
    std::vector<FunctionSlot> Slots();
};
struct AvCodecFunctions {
    KELVARO_AVCODEC_FUNCTIONS(KELVARO_DECLARE_SLOT)
    std::vector<FunctionSlot> Slots();
};
struct AvFormatFunctions {
    KELVARO_AVFORMAT_FUNCTIONS(KELVARO_DECLARE_SLOT)
    std::vector<FunctionSlot> Slots();
};
struct SwScaleFunctions {
    KELVARO_SWSCALE_FUNCTIONS(KELVARO_DECLARE_SLOT)
    std::vector<FunctionSlot> Slots();
};
struct SwResampleFunctions {
    KELVARO_SWRESAMPLE_FUNCTIONS(KELVARO_DECLARE_SLOT)
    std::vector<FunctionSlot> Slots();
};

// The process-wide slots, filled by LoadMediaLibraries.
extern AvUtilFunctions avutil;
extern AvCodecFunctions avcodec;
extern AvFormatFunctions avformat;
extern SwScaleFunctions swscale;
extern SwResampleFunctions swresample;

}  // namespace kelvaro
