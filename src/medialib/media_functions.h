// The function table through which every media call of the program goes.
// The libraries are opened with dlopen and bound by name (loader.cpp); nothing links libav*.
// Types, constants and static inline helpers come from the headers.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/fifo.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/rational.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

// Entry points per library, in binding order. A library counts as bound only when every
// name of its list is found; the first missing one is named in the error text.
// clang-format off
#define KORVELO_AVUTIL_FUNCTIONS(X) \
  X(av_log_set_callback) X(av_log_default_callback) X(av_log_get_level) X(av_log_set_level) \
  X(av_log) X(av_vlog) X(av_log_format_line2) X(av_strlcpy) X(av_strstart) X(av_reduce) \
  X(av_rescale_q) X(av_rescale) X(av_rescale_rnd) X(av_rescale_q_rnd) X(av_compare_ts) \
  X(av_strdup) X(av_malloc) X(av_mallocz) X(av_realloc) X(av_free) X(av_freep) \
  X(av_fast_realloc) X(av_fast_malloc) X(av_strerror) X(av_gettime) X(av_gettime_relative) \
  X(av_usleep) X(av_parse_video_rate) X(av_parse_video_size) X(av_parse_time) \
  X(av_get_pix_fmt) X(av_get_pix_fmt_name) X(av_get_pix_fmt_string) X(av_pix_fmt_desc_get) \
  X(av_get_picture_type_char) X(av_get_sample_fmt_name) X(av_get_bytes_per_sample) \
  X(av_sample_fmt_is_planar) X(av_get_packed_sample_fmt) X(av_samples_get_buffer_size) \
  X(av_image_alloc) X(av_image_fill_arrays) X(av_image_get_buffer_size) X(av_image_copy) \
  X(av_image_fill_linesizes) X(av_image_check_size) X(av_image_fill_black) \
  X(av_samples_set_silence) \
  X(av_frame_alloc) X(av_frame_free) X(av_frame_unref) X(av_frame_get_buffer) \
  X(av_frame_make_writable) X(av_frame_ref) X(av_frame_move_ref) X(av_frame_copy_props) \
  X(av_dict_set) X(av_dict_get) X(av_dict_free) X(av_dict_copy) X(av_dict_count) \
  X(av_opt_find) X(av_opt_set) X(av_opt_get) X(av_opt_get_int) X(av_opt_set_int) \
  X(av_opt_set_double) X(av_opt_next) X(av_opt_set_dict) X(av_opt_set_defaults) \
  X(av_fifo_alloc2) X(av_fifo_freep2) X(av_fifo_can_read) X(av_fifo_can_write) \
  X(av_fifo_read) X(av_fifo_write) X(av_fifo_grow2) X(av_fifo_reset2) X(av_fifo_drain2) \
  X(av_fifo_peek) \
  X(av_audio_fifo_alloc) X(av_audio_fifo_free) X(av_audio_fifo_write) X(av_audio_fifo_read) \
  X(av_audio_fifo_size) X(av_audio_fifo_realloc) X(av_audio_fifo_drain) \
  X(av_channel_layout_default) X(av_channel_layout_uninit) X(av_channel_layout_copy) \
  X(av_channel_layout_describe) X(av_d2q) X(av_find_nearest_q_idx) X(av_mul_q) X(av_div_q) \
  X(av_get_media_type_string) X(avutil_version) X(av_display_rotation_get) \
  X(av_display_rotation_set) X(av_display_matrix_flip)

#define KORVELO_AVCODEC_FUNCTIONS(X) \
  X(avcodec_find_encoder) X(avcodec_find_decoder) X(avcodec_find_encoder_by_name) \
  X(avcodec_find_decoder_by_name) X(avcodec_alloc_context3) X(avcodec_free_context) \
  X(avcodec_open2) X(avcodec_parameters_to_context) X(avcodec_parameters_from_context) \
  X(avcodec_parameters_copy) X(avcodec_parameters_alloc) X(avcodec_parameters_free) \
  X(avcodec_send_packet) X(avcodec_receive_frame) X(avcodec_send_frame) \
  X(avcodec_receive_packet) X(avcodec_flush_buffers) X(avcodec_decode_subtitle2) \
  X(avcodec_encode_subtitle) X(avsubtitle_free) X(avcodec_get_class) X(avcodec_get_name) \
  X(avcodec_descriptor_get) X(av_packet_alloc) X(av_packet_free) X(av_packet_unref) \
  X(av_packet_ref) X(av_packet_get_side_data) X(av_packet_new_side_data) \
  X(av_packet_rescale_ts) X(av_new_packet) X(av_shrink_packet) X(av_grow_packet) \
  X(av_bsf_get_by_name) X(av_bsf_alloc) X(av_bsf_init) X(av_bsf_send_packet) \
  X(av_bsf_receive_packet) X(av_bsf_free) X(av_codec_iterate) X(av_codec_is_encoder) \
  X(av_codec_is_decoder) X(avcodec_string) X(avcodec_version) X(av_get_profile_name) \
  X(avcodec_profile_name) X(av_get_audio_frame_duration)

#define KORVELO_AVFORMAT_FUNCTIONS(X) \
  X(avformat_alloc_context) X(avformat_free_context) X(avformat_open_input) \
  X(avformat_close_input) X(avformat_find_stream_info) X(av_find_input_format) \
  X(av_probe_input_buffer2) \
  X(av_guess_format) X(av_guess_codec) X(avformat_alloc_output_context2) \
  X(avformat_new_stream) X(avformat_write_header) X(avformat_init_output) \
  X(av_interleaved_write_frame) X(av_write_frame) X(av_write_trailer) X(av_read_frame) \
  X(av_seek_frame) X(avformat_seek_file) X(avio_open) X(avio_closep) X(avio_seek) \
  X(avio_size) X(avio_flush) X(av_dump_format) X(av_sdp_create) X(av_pkt_dump_log2) \
  X(av_codec_get_id) X(av_codec_get_tag) X(av_codec_get_tag2) X(avformat_get_class) \
  X(av_filename_number_test) X(av_muxer_iterate) X(av_demuxer_iterate) \
  X(av_find_best_stream) X(avformat_query_codec) X(av_guess_frame_rate) \
  X(av_guess_sample_aspect_ratio) X(avformat_version) X(av_find_default_stream_index) \
  X(av_stream_get_side_data) X(av_stream_new_side_data) \
  X(avformat_index_get_entry_from_timestamp)

#define KORVELO_SWSCALE_FUNCTIONS(X) \
  X(sws_scale) X(sws_getContext) X(sws_freeContext) X(sws_getCachedContext) \
  X(sws_get_class) X(sws_alloc_context) X(sws_init_context) X(sws_isSupportedInput) \
  X(sws_isSupportedOutput) X(sws_setColorspaceDetails) X(sws_getCoefficients)

#define KORVELO_SWRESAMPLE_FUNCTIONS(X) \
  X(swr_alloc_set_opts2) X(swr_init) X(swr_free) X(swr_convert) X(swr_set_compensation) \
  X(swr_get_delay) X(swr_get_out_samples) X(swr_alloc) X(swr_is_initialized)

// clang-format on
// NOLINTNEXTLINE(bugprone-macro-parentheses): name is a declarator, which cannot be parenthesized
#define KORVELO_DECLARE_ENTRY_POINT(name) decltype(&::name) name = nullptr;

// One pointer per bound entry point. Read without locking by every thread after loading.
struct MediaFunctions {
  KORVELO_AVUTIL_FUNCTIONS(KORVELO_DECLARE_ENTRY_POINT)
  KORVELO_AVCODEC_FUNCTIONS(KORVELO_DECLARE_ENTRY_POINT)
  KORVELO_AVFORMAT_FUNCTIONS(KORVELO_DECLARE_ENTRY_POINT)
  KORVELO_SWSCALE_FUNCTIONS(KORVELO_DECLARE_ENTRY_POINT)
  KORVELO_SWRESAMPLE_FUNCTIONS(KORVELO_DECLARE_ENTRY_POINT)
};

// The process-wide table; every media call is written avlib.name(...).
extern MediaFunctions avlib;
