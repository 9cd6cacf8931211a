// Host-interface declarations for After Effects effect plug-ins, written for this
// project with the SDK's names. Every record, table and constant here is laid out
// as the host lays it out on 64-bit Windows; fixed-width types keep the native
// Linux build on the same layout. tests/abi checks every offset, size, slot
// signature and constant against measured data.
//
// Conventions: no packing pragmas (natural alignment equals the host's pack(8)),
// enumerations are 32-bit typedefs except AEGP_LTimeMode and PF_ValueDisplayFlags
// (16-bit), flag words are 32-bit.
#ifndef VANTREL_AE_SDK_H
#define VANTREL_AE_SDK_H

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define VANTREL_DLLEXPORT extern "C" __declspec(dllexport)
#else
#define VANTREL_DLLEXPORT extern "C" __attribute__((visibility("default")))
#endif

// ---------------------------------------------------------------------------
// Scalars
typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef uint8_t A_u_char;
typedef uint8_t A_Boolean;
typedef double A_FpLong;
typedef float A_FpShort;
typedef A_long A_Err;
typedef int64_t A_intptr_t;
typedef uint64_t A_u_longlong;
typedef uint64_t A_HandleSize;
typedef int32_t A_LegacyEnumType;

typedef int32_t int32;
typedef int32 SPErr;
typedef int32 SPBoolean;  // 4 bytes on Windows

typedef A_char PF_Boolean;
typedef A_long PF_Err;
typedef A_long PF_Cmd;
typedef A_long PF_ParamIndex;
typedef A_long PF_ParamValue;
typedef A_long PF_ParamType;
typedef A_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;
typedef A_long PF_ChangeFlags;
typedef A_short PF_ValueDisplayFlags;
typedef A_u_long PF_FSliderFlags;
typedef A_long PF_Fixed;
typedef A_long PF_Quality;
typedef A_long PF_ModeFlags;
typedef A_long PF_Field;
typedef A_long PF_TransferMode;
typedef PF_TransferMode PF_XferMode;
typedef A_long PF_OutFlags;
typedef A_long PF_OutFlags2;
typedef A_long PF_InFlags;
typedef A_long PF_WorldFlags;
typedef A_long PF_Stage;
typedef A_long PF_PixelFormat;
typedef A_long PF_SoundChannels;
typedef A_short PF_SoundFormat;
typedef A_short PF_SoundSampleSize;

typedef struct _PF_ProgressInfo* PF_ProgPtr;
typedef struct _PF_OpaqueHandle** PF_Handle;
typedef struct PF_Pixel* PF_PixelPtr;
typedef void* PF_PathOutlinePtr;

typedef A_long AEGP_PluginID;
typedef struct _AEGP_LayerOpaque* AEGP_LayerH;
typedef struct _AEGP_EffectRefOpaque* AEGP_EffectRefH;
typedef struct _AEGP_StreamRefOpaque* AEGP_StreamRefH;
typedef struct _AEGP_TextOutlinesOpaque* AEGP_TextOutlinesH;
typedef struct _AEGP_WorldOpaque* AEGP_WorldH;
typedef struct _AEGP_MemHandleOpaque* AEGP_MemHandle;
typedef struct _AEGP_CompOpaque* AEGP_CompH;
typedef struct _AEGP_ItemOpaque* AEGP_ItemH;
typedef struct _AEGP_CameraOpaque* AEGP_CameraH;
typedef struct _AEGP_MaskRefOpaque* AEGP_MaskRefH;
typedef struct _AEGP_PlatformWorldOpaque* AEGP_PlatformWorldH;
typedef struct _AEGP_MarkerValOpaque* AEGP_MarkerValP;
typedef struct _AEGP_MaskOutlineOpaque* AEGP_MaskOutlineValH;
typedef struct _AEGP_TextDocumentOpaque* AEGP_TextDocumentH;
typedef PF_Handle AEGP_ArbBlockVal;
typedef struct _PF_ArbitraryOpaque** PF_ArbitraryH;

typedef A_long AEGP_ObjectType;
typedef A_long AEGP_LayerStream;
typedef A_short AEGP_LTimeMode;
typedef A_long AEGP_StreamType;
typedef A_long AEGP_WorldType;
typedef A_short AEGP_LayerQuality;
typedef A_long AEGP_LayerFlags;
typedef A_long AEGP_LayerIDVal;
typedef A_long AEGP_MaskIDVal;
typedef A_long AEGP_InstalledEffectKey;
typedef A_long AEGP_EffectFlags;
typedef A_long AEGP_StreamFlags;
typedef A_long AEGP_KeyInterpolationMask;
typedef A_long AEGP_LayerTransferMode_dummy;
typedef A_long PF_PathID;
typedef A_long PF_MaskMode;

// ---------------------------------------------------------------------------
// Small records
struct A_Time {
  A_long value;
  A_u_long scale;
};

struct A_FloatPoint {
  A_FpLong x, y;
};

struct A_FloatPoint3 {
  A_FpLong x, y, z;
};

struct A_Matrix4 {
  A_FpLong mat[4][4];
};

struct A_Ratio {
  A_long num;
  A_u_long den;
};

struct PF_RationalScale {
  A_long num;
  A_u_long den;
};

struct PF_Point {
  A_long h, v;
};

struct PF_LRect {
  A_long left, top, right, bottom;
};
typedef PF_LRect PF_Rect;
typedef PF_Rect PF_UnionableRect;

struct PF_Pixel {
  A_u_char alpha, red, green, blue;
};
typedef PF_Pixel PF_Pixel8;
typedef PF_Pixel PF_UnionablePixel;

struct PF_FloatMatrix {
  A_FpLong mat[3][3];  // row-major; points are row vectors (x, y, 1) * mat
};

struct PF_CompositeMode {
  PF_TransferMode xfer;
  A_long rand_seed;
  A_u_char opacity;  // 0..255
  PF_Boolean rgb_only;
  A_u_short opacitySu;
};

struct PF_SpecVersion {
  A_short major;
  A_short minor;
};

struct PF_SoundFormatInfo {
  A_FpLong rate;
  PF_SoundChannels num_channels;
  PF_SoundFormat format;
  PF_SoundSampleSize sample_size;
};

struct PF_SoundWorld {
  PF_SoundFormatInfo fi;
  A_long num_samples;
  void* dataP;
};

struct PF_PathVertex {
  A_FpLong x, y;
  A_FpLong tan_in_x, tan_in_y;
  A_FpLong tan_out_x, tan_out_y;
};

struct AEGP_TwoDVal {
  A_FpLong x, y;
};

struct AEGP_ThreeDVal {
  A_FpLong x, y, z;
};

struct AEGP_FourDVal {
  A_FpLong a, b, c, d;
};

typedef A_FpLong AEGP_OneDVal;

struct AEGP_ColorVal {
  A_FpLong alphaF, redF, greenF, blueF;
};

union AEGP_StreamVal2 {
  AEGP_FourDVal four_d;
  AEGP_ThreeDVal three_d;
  AEGP_TwoDVal two_d;
  AEGP_OneDVal one_d;
  AEGP_ColorVal color;
  AEGP_ArbBlockVal arbH;
  AEGP_MarkerValP markerP;
  AEGP_LayerIDVal layer_id;
  AEGP_MaskIDVal mask_id;
  AEGP_MaskOutlineValH mask;
  AEGP_TextDocumentH text_documentH;
};

struct AEGP_StreamValue2 {
  AEGP_StreamRefH streamH;
  AEGP_StreamVal2 val;
};

// ---------------------------------------------------------------------------
// Images
struct PF_LayerDef {
  void* reserved0;
  void* reserved1;
  PF_WorldFlags world_flags;
  PF_PixelPtr data;
  A_long rowbytes;
  A_long width;
  A_long height;
  PF_UnionableRect extent_hint;
  void* platform_ref;
  A_long reserved_long1;
  void* reserved_long4;
  PF_RationalScale pix_aspect_ratio;
  void* reserved_long2;
  A_long origin_x;
  A_long origin_y;
  A_long reserved_long3;
  A_long dephault;
};
typedef PF_LayerDef PF_EffectWorld;

struct PF_MaskWorld {
  PF_EffectWorld mask;
  PF_Point offset;
  A_long what_is_mask;
};

// ---------------------------------------------------------------------------
// Parameters
struct PF_SliderDef {
  PF_ParamValue value;
  A_char value_str[32];
  A_char value_desc[32];
  PF_ParamValue valid_min, valid_max;
  PF_ParamValue slider_min, slider_max;
  PF_ParamValue dephault;
};

struct PF_FixedSliderDef {
  PF_Fixed value;
  A_char value_str[32];
  A_char value_desc[32];
  PF_Fixed valid_min, valid_max;
  PF_Fixed slider_min, slider_max;
  PF_Fixed dephault;
  A_short precision;
  PF_ValueDisplayFlags display_flags;
};

struct PF_FloatSliderDef {
  A_FpLong value;
  A_FpLong phase;
  A_char value_desc[32];
  A_FpShort valid_min, valid_max;
  A_FpShort slider_min, slider_max;
  A_FpShort dephault;
  A_short precision;
  PF_ValueDisplayFlags display_flags;
  PF_FSliderFlags fs_flags;
  A_FpShort curve_tolerance;
  PF_Boolean useExponent;
  A_FpShort exponent;
};

struct PF_AngleDef {
  PF_Fixed value;
  PF_Fixed dephault;
  PF_Fixed valid_min, valid_max;
};

struct PF_CheckBoxDef {
  PF_ParamValue value;
  PF_Boolean dephault;
  A_char reserved;
  A_short reserved1;
  union {
    const A_char* nameptr;
  } u;
};

struct PF_ColorDef {
  PF_UnionablePixel value;
  PF_UnionablePixel dephault;
};

struct PF_PointDef {
  PF_Fixed x_value;
  PF_Fixed y_value;
  A_char reserved[3];
  PF_Boolean restrict_bounds;
  PF_Fixed x_dephault;
  PF_Fixed y_dephault;
};

struct PF_PopupDef {
  PF_ParamValue value;
  A_short num_choices;
  A_short dephault;
  union {
    const A_char* namesptr;
  } u;
};

struct PF_ArbitraryDef {
  A_short id;
  A_short pad;
  PF_ArbitraryH dephault;
  PF_ArbitraryH value;
  void* refconPV;
};

struct PF_PathDef {
  PF_PathID path_id;
  A_long reserved0;
  A_long dephault;
};

struct PF_ButtonDef {
  PF_ParamValue value;
  union {
    const A_char* namesptr;
  } u;
};

struct PF_Point3DDef {
  A_FpLong x_value, y_value, z_value;
  A_FpLong x_dephault, y_dephault, z_dephault;
  A_char reserved[16];
};

union PF_ParamDefUnion {
  PF_LayerDef ld;
  PF_SliderDef sd;
  PF_FixedSliderDef fd;
  PF_AngleDef ad;
  PF_CheckBoxDef bd;
  PF_ColorDef cd;
  PF_PointDef td;
  PF_PopupDef pd;
  PF_FloatSliderDef fs_d;
  PF_ArbitraryDef arb_d;
  PF_PathDef path_d;
  PF_ButtonDef button_d;
  PF_Point3DDef point3d_d;
};

struct PF_ParamDef {
  union {
    A_long id;
    A_long change_flags;
  } uu;
  PF_ParamUIFlags ui_flags;
  A_short ui_width;
  A_short ui_height;
  PF_ParamType param_type;
  A_char name[32];
  PF_ParamFlags flags;
  A_long unused;
  PF_ParamDefUnion u;
};
typedef PF_ParamDef* PF_ParamList[];

// ---------------------------------------------------------------------------
// Callbacks of PF_InData
struct PF_InteractCallbacks {
  PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                           A_long time_step, A_u_long time_scale, PF_ParamDef* param);
  PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
  PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def);
  PF_Err (*abort)(PF_ProgPtr effect_ref);
  PF_Err (*progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
  PF_Err (*register_ui)(PF_ProgPtr effect_ref, void* cust_info);
  PF_Err (*checkout_layer_audio)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long start_time,
                                 A_long duration, A_u_long time_scale, A_long rate,
                                 A_long bytes_per_sample, A_long num_channels, A_long fmt_signed,
                                 void* audio);
  PF_Err (*checkin_layer_audio)(PF_ProgPtr effect_ref, void* audio);
  PF_Err (*get_audio_data)(PF_ProgPtr effect_ref, void* audio, void* data0, void* num_samples0,
                           void* rate0, void* bytes_per_sample0, void* num_channels0,
                           void* fmt_signed0);
  void* reserved_str[3];
  void* reserved[10];
};

struct PF_ANSICallbacks {
  A_FpLong (*atan)(A_FpLong);
  A_FpLong (*atan2)(A_FpLong y, A_FpLong x);
  A_FpLong (*ceil)(A_FpLong);
  A_FpLong (*cos)(A_FpLong);
  A_FpLong (*exp)(A_FpLong);
  A_FpLong (*fabs)(A_FpLong);
  A_FpLong (*floor)(A_FpLong);
  A_FpLong (*fmod)(A_FpLong x, A_FpLong y);
  A_FpLong (*hypot)(A_FpLong x, A_FpLong y);
  A_FpLong (*log)(A_FpLong);
  A_FpLong (*log10)(A_FpLong);
  A_FpLong (*pow)(A_FpLong x, A_FpLong y);
  A_FpLong (*sin)(A_FpLong);
  A_FpLong (*sqrt)(A_FpLong);
  A_FpLong (*tan)(A_FpLong);
  int (*sprintf)(A_char*, const A_char*, ...);
  A_char* (*strcpy)(A_char*, const A_char*);
  A_FpLong (*asin)(A_FpLong);
  A_FpLong (*acos)(A_FpLong);
  A_long ansi_procs[1];
};

struct PF_ColorCallbacks {
  PF_Err (*RGBtoHLS)(PF_ProgPtr, PF_Pixel*, void* hls);
  PF_Err (*HLStoRGB)(PF_ProgPtr, void* hls, PF_Pixel*);
  PF_Err (*RGBtoYIQ)(PF_ProgPtr, PF_Pixel*, void* yiq);
  PF_Err (*YIQtoRGB)(PF_ProgPtr, void* yiq, PF_Pixel*);
  PF_Err (*Luminance)(PF_ProgPtr, PF_Pixel*, A_long* lum100);
  PF_Err (*Hue)(PF_ProgPtr, PF_Pixel*, A_long* hue);
  PF_Err (*Lightness)(PF_ProgPtr, PF_Pixel*, A_long* lightness);
  PF_Err (*Saturation)(PF_ProgPtr, PF_Pixel*, A_long* saturation);
};

typedef PF_Err (*PF_IteratePixel8Func)(void* refcon, A_long x, A_long y, PF_Pixel* in,
                                       PF_Pixel* out);

struct PF_UtilCallbacks {
  PF_Err (*begin_sampling)(PF_ProgPtr, PF_Quality, PF_ModeFlags, void* params);
  PF_Err (*subpixel_sample)(PF_ProgPtr, PF_Fixed x, PF_Fixed y, const void* params,
                            PF_Pixel* dst);
  PF_Err (*area_sample)(PF_ProgPtr, PF_Fixed x, PF_Fixed y, const void* params, PF_Pixel* dst);
  void* get_batch_func_is_deprecated;
  PF_Err (*end_sampling)(PF_ProgPtr, PF_Quality, PF_ModeFlags, void* params);
  PF_Err (*composite_rect)(PF_ProgPtr, PF_Rect* src_rect, A_long src_opacity,
                           PF_EffectWorld* source_wld, A_long dest_x, A_long dest_y,
                           PF_Field field_rdr, PF_XferMode xfer_mode, PF_EffectWorld* dest_wld);
  PF_Err (*blend)(PF_ProgPtr, const PF_EffectWorld* src1, const PF_EffectWorld* src2,
                  PF_Fixed ratio, PF_EffectWorld* dst);
  PF_Err (*convolve)(PF_ProgPtr, PF_EffectWorld* src, const PF_Rect* area, PF_Quality,
                     A_long kernel_size, void* a_kernel, void* r_kernel, void* g_kernel,
                     void* b_kernel, PF_EffectWorld* dst);
  PF_Err (*copy)(PF_ProgPtr, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                 PF_Rect* dst_r);
  PF_Err (*fill)(PF_ProgPtr, const PF_Pixel* color, const PF_Rect* dst_rect,
                 PF_EffectWorld* world);
  PF_Err (*gaussian_kernel)(PF_ProgPtr, A_FpLong kRadius, PF_ModeFlags, A_FpLong multiplier,
                            A_long* diameter, void* kernel);
  PF_Err (*iterate)(PF_ProgPtr, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                    const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn,
                    PF_EffectWorld* dst);
  PF_Err (*premultiply)(PF_ProgPtr, A_long forward, PF_EffectWorld* dst);
  PF_Err (*premultiply_color)(PF_ProgPtr, PF_EffectWorld* src, const PF_Pixel* color,
                              A_long forward, PF_EffectWorld* dst);
  PF_Err (*new_world)(PF_ProgPtr, A_long width, A_long height, PF_WorldFlags,
                      PF_EffectWorld* world);
  PF_Err (*dispose_world)(PF_ProgPtr, PF_EffectWorld* world);
  PF_Err (*iterate_origin)(PF_ProgPtr, A_long progress_base, A_long progress_final,
                           PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                           void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
  PF_Err (*iterate_lut)(PF_ProgPtr, A_long progress_base, A_long progress_final,
                        PF_EffectWorld* src, const PF_Rect* area, A_u_char* a_lut0,
                        A_u_char* r_lut0, A_u_char* g_lut0, A_u_char* b_lut0,
                        PF_EffectWorld* dst);
  PF_Err (*transfer_rect)(PF_ProgPtr, PF_Quality, PF_ModeFlags, PF_Field, const PF_Rect* src_rec,
                          const PF_EffectWorld* src_world, const PF_CompositeMode* comp_mode,
                          const PF_MaskWorld* mask_world0, A_long dest_x, A_long dest_y,
                          PF_EffectWorld* dst_world);
  PF_Err (*transform_world)(PF_ProgPtr, PF_Quality, PF_ModeFlags, PF_Field,
                            const PF_EffectWorld* src_world, const PF_CompositeMode* comp_mode,
                            const PF_MaskWorld* mask_world0, const PF_FloatMatrix* matrices,
                            A_long num_matrices, PF_Boolean src2dst_matrix,
                            const PF_Rect* dest_rect, PF_EffectWorld* dst_world);
  PF_Handle (*host_new_handle)(A_HandleSize size);
  void* (*host_lock_handle)(PF_Handle);
  void (*host_unlock_handle)(PF_Handle);
  void (*host_dispose_handle)(PF_Handle);
  PF_Err (*get_callback_addr)(PF_ProgPtr, PF_Quality, PF_ModeFlags, A_long which_callback,
                              void** fn_ptr);
  PF_Err (*app)(PF_ProgPtr, A_long, ...);
  PF_ANSICallbacks ansi;
  PF_ColorCallbacks colorCB;
  PF_Err (*get_platform_data)(PF_ProgPtr, A_long which, void* data);
  A_HandleSize (*host_get_handle_size)(PF_Handle);
  PF_Err (*iterate_origin_non_clip_src)(PF_ProgPtr, A_long progress_base, A_long progress_final,
                                        PF_EffectWorld* src, const PF_Rect* area,
                                        const PF_Point* origin, void* refcon,
                                        PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
  PF_Err (*iterate_generic)(A_long iterationsL, void* refconPV,
                            PF_Err (*fn_func)(void* refconPV, A_long thread_indexL, A_long i,
                                              A_long iterationsL));
  PF_Err (*host_resize_handle)(A_HandleSize new_sizeL, PF_Handle* handlePH);
  PF_Err (*subpixel_sample16)(PF_ProgPtr, PF_Fixed x, PF_Fixed y, const void* params,
                              void* dst_pixel);
  PF_Err (*area_sample16)(PF_ProgPtr, PF_Fixed x, PF_Fixed y, const void* params,
                          void* dst_pixel);
  PF_Err (*fill16)(PF_ProgPtr, const void* color, const PF_Rect* dst_rect, PF_EffectWorld* world);
  PF_Err (*premultiply_color16)(PF_ProgPtr, PF_EffectWorld* src, const void* color,
                                A_long forward, PF_EffectWorld* dst);
  PF_Err (*iterate16)(PF_ProgPtr, A_long progress_base, A_long progress_final,
                      PF_EffectWorld* src, const PF_Rect* area, void* refcon, void* pix_fn,
                      PF_EffectWorld* dst);
  PF_Err (*iterate_origin16)(PF_ProgPtr, A_long progress_base, A_long progress_final,
                             PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                             void* refcon, void* pix_fn, PF_EffectWorld* dst);
  PF_Err (*iterate_origin_non_clip_src16)(PF_ProgPtr, A_long progress_base,
                                          A_long progress_final, PF_EffectWorld* src,
                                          const PF_Rect* area, const PF_Point* origin,
                                          void* refcon, void* pix_fn, PF_EffectWorld* dst);
  PF_Err (*get_pixel_data8)(PF_EffectWorld* worldP, PF_PixelPtr pixelsP0, PF_Pixel8** pixPP);
  PF_Err (*get_pixel_data16)(PF_EffectWorld* worldP, PF_PixelPtr pixelsP0, void** pixPP);
  A_long reserved[1];
};

// ---------------------------------------------------------------------------
// Command records
struct SPBasicSuite;

struct PF_InData {
  PF_InteractCallbacks inter;
  PF_UtilCallbacks* utils;
  PF_ProgPtr effect_ref;
  PF_Quality quality;
  PF_SpecVersion version;
  A_long serial_num;
  A_long appl_id;
  A_long num_params;
  A_long reserved;
  A_long what_cpu;
  A_long what_fpu;
  A_long current_time;
  A_long time_step;
  A_long total_time;
  A_long local_time_step;
  A_u_long time_scale;
  PF_Field field;
  PF_Fixed shutter_angle;
  A_long width;
  A_long height;
  PF_Rect extent_hint;
  A_long output_origin_x;
  A_long output_origin_y;
  PF_RationalScale downsample_x;
  PF_RationalScale downsample_y;
  PF_RationalScale pixel_aspect_ratio;
  PF_InFlags in_flags;
  PF_Handle global_data;
  PF_Handle sequence_data;
  PF_Handle frame_data;
  A_long start_sampL;
  A_long dur_sampL;
  A_long total_sampL;
  PF_SoundWorld src_snd;
  SPBasicSuite* pica_basicP;
  A_long pre_effect_source_origin_x;
  A_long pre_effect_source_origin_y;
  PF_Fixed shutter_phase;
};

struct PF_OutData {
  A_u_long my_version;
  A_char name[32];
  PF_Handle global_data;
  A_long num_params;
  PF_Handle sequence_data;
  A_long flat_sdata_size;
  PF_Handle frame_data;
  A_long width;
  A_long height;
  PF_Point origin;
  PF_OutFlags out_flags;
  A_char return_msg[256];
  A_long start_sampL;
  A_long dur_sampL;
  PF_SoundWorld dest_snd;
  PF_OutFlags2 out_flags2;
};

typedef PF_Err (*PF_EntryPointFunc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                    PF_ParamDef* params[], PF_LayerDef* output, void* extra);

// ---------------------------------------------------------------------------
// Suites
struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, int32 version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, int32 version);
  SPBoolean (*IsEqual)(const char* token1, const char* token2);
  SPErr (*AllocateBlock)(size_t size, void** block);
  SPErr (*FreeBlock)(void* block);
  SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newblock);
  SPErr (*Undefined)(void);
};

struct PF_ANSICallbacksSuite1 {
  A_FpLong (*atan)(A_FpLong);
  A_FpLong (*atan2)(A_FpLong y, A_FpLong x);
  A_FpLong (*ceil)(A_FpLong);
  A_FpLong (*cos)(A_FpLong);
  A_FpLong (*exp)(A_FpLong);
  A_FpLong (*fabs)(A_FpLong);
  A_FpLong (*floor)(A_FpLong);
  A_FpLong (*fmod)(A_FpLong x, A_FpLong y);
  A_FpLong (*hypot)(A_FpLong x, A_FpLong y);
  A_FpLong (*log)(A_FpLong);
  A_FpLong (*log10)(A_FpLong);
  A_FpLong (*pow)(A_FpLong x, A_FpLong y);
  A_FpLong (*sin)(A_FpLong);
  A_FpLong (*sqrt)(A_FpLong);
  A_FpLong (*tan)(A_FpLong);
  int (*sprintf)(A_char*, const A_char*, ...);
  A_char* (*strcpy)(A_char*, const A_char*);
  A_FpLong (*asin)(A_FpLong);
  A_FpLong (*acos)(A_FpLong);
};

struct AEGP_PFInterfaceSuite1 {
  A_Err (*AEGP_GetEffectLayer)(PF_ProgPtr effect_ref, AEGP_LayerH* layerPH);
  A_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID aegp_plugin_id, PF_ProgPtr effect_ref,
                                      AEGP_EffectRefH* effectPH);
  A_Err (*AEGP_ConvertEffectToCompTime)(PF_ProgPtr effect_ref, A_long what_time,
                                        A_u_long time_scale, A_Time* comp_timePT);
  A_Err (*AEGP_GetEffectCamera)(PF_ProgPtr effect_ref, const A_Time* comp_timePT,
                                AEGP_LayerH* camera_layerPH);
  A_Err (*AEGP_GetEffectCameraMatrix)(PF_ProgPtr effect_ref, const A_Time* comp_timePT,
                                      A_Matrix4* camera_matrixP, A_FpLong* dst_to_planePF,
                                      A_short* plane_widthPL, A_short* plane_heightPL);
};

struct AEGP_LayerSuite5 {
  A_Err (*AEGP_GetCompNumLayers)(AEGP_CompH compH, A_long* num_layersPL);
  A_Err (*AEGP_GetCompLayerByIndex)(AEGP_CompH compH, A_long layer_indexL, AEGP_LayerH* layerPH);
  A_Err (*AEGP_GetActiveLayer)(AEGP_LayerH* layerPH);
  A_Err (*AEGP_GetLayerIndex)(AEGP_LayerH layerH, A_long* layer_indexPL);
  A_Err (*AEGP_GetLayerSourceItem)(AEGP_LayerH layerH, AEGP_ItemH* source_itemPH);
  A_Err (*AEGP_GetLayerSourceItemID)(AEGP_LayerH layerH, A_long* source_item_idPL);
  A_Err (*AEGP_GetLayerParentComp)(AEGP_LayerH layerH, AEGP_CompH* compPH);
  A_Err (*AEGP_GetLayerName)(AEGP_LayerH layerH, A_char* layer_nameZ0, A_char* source_nameZ0);
  A_Err (*AEGP_GetLayerQuality)(AEGP_LayerH layerH, AEGP_LayerQuality* qualityP);
  A_Err (*AEGP_SetLayerQuality)(AEGP_LayerH layerH, AEGP_LayerQuality quality);
  A_Err (*AEGP_GetLayerFlags)(AEGP_LayerH layerH, AEGP_LayerFlags* layer_flagsP);
  A_Err (*AEGP_SetLayerFlag)(AEGP_LayerH layerH, AEGP_LayerFlags single_flag, A_Boolean valueB);
  A_Err (*AEGP_IsLayerVideoReallyOn)(AEGP_LayerH layerH, A_Boolean* onPB);
  A_Err (*AEGP_IsLayerAudioReallyOn)(AEGP_LayerH layerH, A_Boolean* onPB);
  A_Err (*AEGP_GetLayerCurrentTime)(AEGP_LayerH layerH, AEGP_LTimeMode time_mode,
                                    A_Time* curr_timePT);
  A_Err (*AEGP_GetLayerInPoint)(AEGP_LayerH layerH, AEGP_LTimeMode time_mode,
                                A_Time* in_pointPT);
  A_Err (*AEGP_GetLayerDuration)(AEGP_LayerH layerH, AEGP_LTimeMode time_mode,
                                 A_Time* durationPT);
  A_Err (*AEGP_SetLayerInPointAndDuration)(AEGP_LayerH layerH, AEGP_LTimeMode time_mode,
                                           const A_Time* in_pointPT, const A_Time* durationPT);
  A_Err (*AEGP_GetLayerOffset)(AEGP_LayerH layerH, A_Time* offsetPT);
  A_Err (*AEGP_SetLayerOffset)(AEGP_LayerH layerH, const A_Time* offsetPT);
  A_Err (*AEGP_GetLayerStretch)(AEGP_LayerH layerH, A_Ratio* stretchPRt);
  A_Err (*AEGP_SetLayerStretch)(AEGP_LayerH layerH, const A_Ratio* stretchPRt);
  A_Err (*AEGP_GetLayerTransferMode)(AEGP_LayerH layerH, void* transfer_modeP);
  A_Err (*AEGP_SetLayerTransferMode)(AEGP_LayerH layerH, const void* transfer_modeP);
  A_Err (*AEGP_IsAddLayerValid)(AEGP_ItemH item_to_addH, AEGP_CompH into_compH, A_Boolean* validPB);
  A_Err (*AEGP_AddLayer)(AEGP_ItemH item_to_addH, AEGP_CompH into_compH, AEGP_LayerH* added_layerPH);
  A_Err (*AEGP_ReorderLayer)(AEGP_LayerH layerH, A_long layer_indexL);
  A_Err (*AEGP_GetLayerMaskedBounds)(AEGP_LayerH layerH, AEGP_LTimeMode time_mode,
                                     const A_Time* timePT, void* boundsPR);
  A_Err (*AEGP_GetLayerObjectType)(AEGP_LayerH layerH, AEGP_ObjectType* object_type);
  A_Err (*AEGP_IsLayer3D)(AEGP_LayerH layerH, A_Boolean* is_3DPB);
  A_Err (*AEGP_IsLayer2D)(AEGP_LayerH layerH, A_Boolean* is_2DPB);
  A_Err (*AEGP_IsVideoActive)(AEGP_LayerH layerH, AEGP_LTimeMode time_mode,
                              const A_Time* comp_timePT, A_Boolean* is_activePB);
  A_Err (*AEGP_IsLayerUsedAsTrackMatte)(AEGP_LayerH layerH, A_Boolean fill_must_be_activeB,
                                        A_Boolean* is_track_mattePB);
  A_Err (*AEGP_DoesLayerHaveTrackMatte)(AEGP_LayerH layerH, A_Boolean* has_track_mattePB);
  A_Err (*AEGP_ConvertCompToLayerTime)(AEGP_LayerH layerH, const A_Time* comp_timeP,
                                       A_Time* layer_timeP);
  A_Err (*AEGP_ConvertLayerToCompTime)(AEGP_LayerH layerH, const A_Time* layer_timeP,
                                       A_Time* comp_timeP);
  A_Err (*AEGP_GetLayerDancingRandValue)(AEGP_LayerH layerH, const A_Time* comp_timePT,
                                         A_long* rand_valuePL);
  A_Err (*AEGP_GetLayerID)(AEGP_LayerH layerH, AEGP_LayerIDVal* id_valP);
  A_Err (*AEGP_GetLayerToWorldXform)(AEGP_LayerH aegp_layerH, const A_Time* comp_timeP,
                                     A_Matrix4* transform);
  A_Err (*AEGP_GetLayerToWorldXformFromView)(AEGP_LayerH aegp_layerH, const A_Time* view_timeP,
                                             const A_Time* comp_timeP, A_Matrix4* transform);
  A_Err (*AEGP_SetLayerName)(AEGP_LayerH aegp_layerH, const A_char* new_nameZ);
  A_Err (*AEGP_GetLayerParent)(AEGP_LayerH layerH, AEGP_LayerH* parent_layerPH);
  A_Err (*AEGP_SetLayerParent)(AEGP_LayerH layerH, const AEGP_LayerH parent_layerH);
  A_Err (*AEGP_DeleteLayer)(AEGP_LayerH layerH);
  A_Err (*AEGP_DuplicateLayer)(AEGP_LayerH orig_layerH, AEGP_LayerH* duplicate_layerPH);
  A_Err (*AEGP_GetLayerFromLayerID)(AEGP_CompH parent_compH, AEGP_LayerIDVal id,
                                    AEGP_LayerH* layerPH);
};

struct AEGP_TextLayerSuite1 {
  A_Err (*AEGP_GetNewTextOutlines)(AEGP_LayerH layerH, const A_Time* layer_time,
                                   AEGP_TextOutlinesH* outlinesPH);
  A_Err (*AEGP_DisposeTextOutlines)(AEGP_TextOutlinesH outlinesH);
  A_Err (*AEGP_GetNumTextOutlines)(AEGP_TextOutlinesH outlinesH, A_long* num_outlinesPL);
  A_Err (*AEGP_GetIndexedTextOutline)(AEGP_TextOutlinesH outlinesH, A_long path_indexL,
                                      PF_PathOutlinePtr* pathPP);
};

// "AEGP Stream Suite" versions 9 and 8 share their slots but for
// AEGP_GetStreamName (slot 9), whose parameters differ.
#define VANTREL_AEGP_STREAM_SUITE_SLOTS(GET_STREAM_NAME_PARAMS)                                  \
  A_Err (*AEGP_IsStreamLegal)(AEGP_LayerH layerH, AEGP_LayerStream which_stream,               \
                              A_Boolean * is_legalP);                                          \
  A_Err (*AEGP_CanVaryOverTime)(AEGP_StreamRefH streamH, A_Boolean * can_varyPB);              \
  A_Err (*AEGP_GetValidInterpolations)(AEGP_StreamRefH streamH,                                \
                                       AEGP_KeyInterpolationMask * valid_interpP);             \
  A_Err (*AEGP_GetNewLayerStream)(AEGP_PluginID aegp_plugin_id, AEGP_LayerH layerH,            \
                                  AEGP_LayerStream which_stream, AEGP_StreamRefH * streamPH);  \
  A_Err (*AEGP_GetEffectNumParamStreams)(AEGP_EffectRefH effect_refH, A_long * num_paramsPL);  \
  A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID aegp_plugin_id,                        \
                                          AEGP_EffectRefH effect_refH, PF_ParamIndex param_index, \
                                          AEGP_StreamRefH * streamPH);                         \
  A_Err (*AEGP_GetNewMaskStream)(AEGP_PluginID aegp_plugin_id, AEGP_MaskRefH mask_refH,        \
                                 A_long which_stream, AEGP_StreamRefH * mask_streamPH);        \
  A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);                                        \
  A_Err (*AEGP_GetStreamName) GET_STREAM_NAME_PARAMS;                                          \
  A_Err (*AEGP_GetStreamUnitsText)(AEGP_StreamRefH streamH, A_Boolean force_englishB,          \
                                   A_char * unitsZ);                                           \
  A_Err (*AEGP_GetStreamProperties)(AEGP_StreamRefH streamH, AEGP_StreamFlags * flagsP,        \
                                    A_FpLong * minP0, A_FpLong * maxP0);                       \
  A_Err (*AEGP_IsStreamTimevarying)(AEGP_StreamRefH streamH, A_Boolean * is_timevaryPB);       \
  A_Err (*AEGP_GetStreamType)(AEGP_StreamRefH streamH, AEGP_StreamType * stream_typeP);        \
  A_Err (*AEGP_GetNewStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,       \
                                  AEGP_LTimeMode time_mode, const A_Time* timePT,              \
                                  A_Boolean pre_expressionB, AEGP_StreamValue2* valueP);       \
  A_Err (*AEGP_DisposeStreamValue)(AEGP_StreamValue2 * valueP);                                \
  A_Err (*AEGP_SetStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,          \
                               AEGP_StreamValue2 * valueP);                                    \
  A_Err (*AEGP_GetLayerStreamValue)(AEGP_LayerH layerH, AEGP_LayerStream which_stream,         \
                                    AEGP_LTimeMode time_mode, const A_Time* timePT,            \
                                    A_Boolean pre_expressionB, AEGP_StreamVal2* stream_valP,   \
                                    AEGP_StreamType* stream_typeP0);                           \
  A_Err (*AEGP_GetExpressionState)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,      \
                                   A_Boolean * enabledPB);                                     \
  A_Err (*AEGP_SetExpressionState)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,      \
                                   A_Boolean enabledB);                                        \
  A_Err (*AEGP_GetExpression)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,           \
                              AEGP_MemHandle * unicodeHZ);                                     \
  A_Err (*AEGP_SetExpression)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,           \
                              const void* expressionP);                                        \
  A_Err (*AEGP_DuplicateStreamRef)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,      \
                                   AEGP_StreamRefH * dup_streamPH);

struct AEGP_StreamSuite4 {
  VANTREL_AEGP_STREAM_SUITE_SLOTS((AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                   A_Boolean force_englishB, AEGP_MemHandle* utf_stream_namePH))
};

struct AEGP_StreamSuite3 {
  VANTREL_AEGP_STREAM_SUITE_SLOTS((AEGP_StreamRefH streamH, A_Boolean force_englishB,
                                   A_char* nameZ))
};
#undef VANTREL_AEGP_STREAM_SUITE_SLOTS

struct AEGP_EffectSuite3 {
  A_Err (*AEGP_GetLayerNumEffects)(AEGP_LayerH layerH, A_long* num_effectsPL);
  A_Err (*AEGP_GetLayerEffectByIndex)(AEGP_PluginID aegp_plugin_id, AEGP_LayerH layerH,
                                      A_long layer_effect_indexL, AEGP_EffectRefH* effectPH);
  A_Err (*AEGP_GetInstalledKeyFromLayerEffect)(AEGP_EffectRefH effect_refH,
                                               AEGP_InstalledEffectKey* installed_keyP);
  A_Err (*AEGP_GetEffectParamUnionByIndex)(AEGP_PluginID aegp_plugin_id,
                                           AEGP_EffectRefH effect_refH, PF_ParamIndex param_index,
                                           PF_ParamType* param_typeP, PF_ParamDefUnion* uP0);
  A_Err (*AEGP_GetEffectFlags)(AEGP_EffectRefH effect_refH, AEGP_EffectFlags* effect_flagsP);
  A_Err (*AEGP_SetEffectFlags)(AEGP_EffectRefH effect_refH, AEGP_EffectFlags mask,
                               AEGP_EffectFlags effect_flags);
  A_Err (*AEGP_ReorderEffect)(AEGP_EffectRefH effect_refH, A_long effect_indexL);
  A_Err (*AEGP_EffectCallGeneric)(AEGP_PluginID aegp_plugin_id, AEGP_EffectRefH effect_refH,
                                  const A_Time* timePT, PF_Cmd effect_cmd, void* effect_extraPV);
  A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effect_refH);
  A_Err (*AEGP_ApplyEffect)(AEGP_PluginID aegp_plugin_id, AEGP_LayerH layerH,
                            AEGP_InstalledEffectKey installed_key, AEGP_EffectRefH* effect_refPH);
  A_Err (*AEGP_DeleteLayerEffect)(AEGP_EffectRefH effect_refH);
  A_Err (*AEGP_GetNumInstalledEffects)(A_long* num_installed_effectsPL);
  A_Err (*AEGP_GetNextInstalledEffect)(AEGP_InstalledEffectKey key,
                                       AEGP_InstalledEffectKey* next_keyPH);
  A_Err (*AEGP_GetEffectName)(AEGP_InstalledEffectKey installed_key, A_char* nameZ);
  A_Err (*AEGP_GetEffectMatchName)(AEGP_InstalledEffectKey installed_key, A_char* matchnameZ);
  A_Err (*AEGP_GetEffectCategory)(AEGP_InstalledEffectKey installed_key, A_char* categoryZ);
  A_Err (*AEGP_DuplicateEffect)(AEGP_EffectRefH orig_effect_refH,
                                AEGP_EffectRefH* dupe_effect_refPH);
};

struct AEGP_WorldSuite3 {
  A_Err (*AEGP_New)(AEGP_PluginID plugin_id, AEGP_WorldType type, A_long widthL, A_long heightL,
                    AEGP_WorldH* worldPH);
  A_Err (*AEGP_Dispose)(AEGP_WorldH worldH);
  A_Err (*AEGP_GetType)(AEGP_WorldH worldH, AEGP_WorldType* typeP);
  A_Err (*AEGP_GetSize)(AEGP_WorldH worldH, A_long* widthPL, A_long* heightPL);
  A_Err (*AEGP_GetRowBytes)(AEGP_WorldH worldH, A_u_long* row_bytesPL);
  A_Err (*AEGP_GetBaseAddr8)(AEGP_WorldH worldH, PF_Pixel8** base_addrP);
  A_Err (*AEGP_GetBaseAddr16)(AEGP_WorldH worldH, void** base_addrP);
  A_Err (*AEGP_GetBaseAddr32)(AEGP_WorldH worldH, void** base_addrP);
  A_Err (*AEGP_FillOutPFEffectWorld)(AEGP_WorldH worldH, PF_EffectWorld* pf_worldP);
  A_Err (*AEGP_FastBlur)(A_FpLong radiusF, PF_ModeFlags mode, PF_Quality quality,
                         AEGP_WorldH worldH);
  A_Err (*AEGP_NewPlatformWorld)(AEGP_PluginID plugin_id, AEGP_WorldType type, A_long widthL,
                                 A_long heightL, AEGP_PlatformWorldH* worldPH);
  A_Err (*AEGP_DisposePlatformWorld)(AEGP_PlatformWorldH worldH);
  A_Err (*AEGP_NewReferenceFromPlatformWorld)(AEGP_PluginID plugin_id,
                                              AEGP_PlatformWorldH plat_worldH,
                                              AEGP_WorldH* worldPH);
};

struct PF_WorldTransformSuite1 {
  PF_Err (*composite_rect)(PF_ProgPtr effect_ref, PF_Rect* src_rect, A_long src_opacity,
                           PF_EffectWorld* source_wld, A_long dest_x, A_long dest_y,
                           PF_Field field_rdr, PF_XferMode xfer_mode, PF_EffectWorld* dest_wld);
  PF_Err (*blend)(PF_ProgPtr effect_ref, const PF_EffectWorld* src1, const PF_EffectWorld* src2,
                  PF_Fixed ratio, PF_EffectWorld* dst);
  PF_Err (*convolve)(PF_ProgPtr effect_ref, PF_EffectWorld* src, const PF_Rect* area,
                     PF_Quality quality, A_long kernel_size, void* a_kernel, void* r_kernel,
                     void* g_kernel, void* b_kernel, PF_EffectWorld* dst);
  PF_Err (*copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst,
                 PF_Rect* src_r, PF_Rect* dst_r);
  PF_Err (*copy_hq)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst,
                    PF_Rect* src_r, PF_Rect* dst_r);
  PF_Err (*transfer_rect)(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags m_flags,
                          PF_Field field, const PF_Rect* src_rec, const PF_EffectWorld* src_world,
                          const PF_CompositeMode* comp_mode, const PF_MaskWorld* mask_world0,
                          A_long dest_x, A_long dest_y, PF_EffectWorld* dst_world);
  PF_Err (*transform_world)(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags m_flags,
                            PF_Field field, const PF_EffectWorld* src_world,
                            const PF_CompositeMode* comp_mode, const PF_MaskWorld* mask_world0,
                            const PF_FloatMatrix* matrices, A_long num_matrices,
                            PF_Boolean src2dst_matrix, const PF_Rect* dest_rect,
                            PF_EffectWorld* dst_world);
};

typedef A_Err (*AEGP_IterateGenericFunc)(void* refconPV, A_long thread_indexL, A_long i,
                                         A_long iterationsL);

struct AEGP_IterateSuite1 {
  A_Err (*AEGP_GetNumThreads)(A_long* num_threadsPL);
  A_Err (*AEGP_IterateGeneric)(A_long iterationsL, void* refconPV, AEGP_IterateGenericFunc fn);
};

struct PF_PathDataSuite1 {
  PF_Err (*PF_PathIsOpen)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, PF_Boolean* openPB);
  PF_Err (*PF_PathNumSegments)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path,
                               A_long* num_segmentsPL);
  PF_Err (*PF_PathVertexInfo)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_pointL,
                              PF_PathVertex* vertexP);
  PF_Err (*PF_PathPrepareSegLength)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path,
                                    A_long which_segL, A_long frequencyL, void* lengthPrepP);
  PF_Err (*PF_PathGetSegLength)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_segL,
                                void* lengthPrepP0, A_FpLong* lengthPF);
  PF_Err (*PF_PathEvalSegLength)(PF_ProgPtr effect_ref, void* lengthPrepPP0,
                                 PF_PathOutlinePtr path, A_long which_segL, A_FpLong lengthF,
                                 A_FpLong* x, A_FpLong* y);
  PF_Err (*PF_PathEvalSegLengthDeriv1)(PF_ProgPtr effect_ref, void* lengthPrepPP0,
                                       PF_PathOutlinePtr path, A_long which_segL,
                                       A_FpLong lengthF, A_FpLong* x, A_FpLong* y,
                                       A_FpLong* deriv1x, A_FpLong* deriv1y);
  PF_Err (*PF_PathCleanupSegLength)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path,
                                    A_long which_segL, void* lengthPrepP);
  PF_Err (*PF_PathIsInverted)(PF_ProgPtr effect_ref, PF_PathID unique_id, PF_Boolean* invertedB);
  PF_Err (*PF_PathGetMaskMode)(PF_ProgPtr effect_ref, PF_PathID unique_id, PF_MaskMode* modeP);
  PF_Err (*PF_PathGetName)(PF_ProgPtr effect_ref, PF_PathID unique_id, A_char* nameZ);
};

// Premiere Pro's pixel formats: a named 32-bit enumeration passed by value.
enum PrPixelFormat : int32_t {
  PrPixelFormat_BGRA_4444_8u = 0x61726762,  // 'bgra', first character in the low byte
  PrPixelFormat_ARGB_4444_8u = 0x62677261,
};

// Premiere's table: Add comes before Clear.
struct PF_PixelFormatSuite1 {
  PF_Err (*AddSupportedPixelFormat)(PF_ProgPtr effect_ref, PrPixelFormat pixelFormat);
  PF_Err (*ClearSupportedPixelFormats)(PF_ProgPtr effect_ref);
  PF_Err (*NewWorldOfPixelFormat)(PF_ProgPtr effect_ref, A_long width, A_long height,
                                  PF_WorldFlags flags, PrPixelFormat pixelFormat,
                                  PF_EffectWorld* world);
  PF_Err (*DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld* world);
  PF_Err (*GetPixelFormat)(PF_EffectWorld* inWorld, PrPixelFormat* pixelFormat);
  PF_Err (*GetBlackForPixelFormat)(PrPixelFormat pixelFormat, void* pixelData);
  PF_Err (*GetWhiteForPixelFormat)(PrPixelFormat pixelFormat, void* pixelData);
  PF_Err (*ConvertColorToPixelFormattedData)(PrPixelFormat pixelFormat, A_FpShort alpha,
                                             A_FpShort red, A_FpShort green, A_FpShort blue,
                                             void* formattedPixel);
};
typedef PF_PixelFormatSuite1 PF_PixelFormatSuite;

// ---------------------------------------------------------------------------
// Constants
enum {
  PF_Cmd_ABOUT = 0,
  PF_Cmd_GLOBAL_SETUP,
  PF_Cmd_UNUSED_0,
  PF_Cmd_GLOBAL_SETDOWN,
  PF_Cmd_PARAMS_SETUP,
  PF_Cmd_SEQUENCE_SETUP,
  PF_Cmd_SEQUENCE_RESETUP,
  PF_Cmd_SEQUENCE_FLATTEN,
  PF_Cmd_SEQUENCE_SETDOWN,
  PF_Cmd_DO_DIALOG,
  PF_Cmd_FRAME_SETUP,
  PF_Cmd_RENDER,
  PF_Cmd_FRAME_SETDOWN,
  PF_Cmd_USER_CHANGED_PARAM,
  PF_Cmd_UPDATE_PARAMS_UI,
  PF_Cmd_EVENT,
  PF_Cmd_GET_EXTERNAL_DEPENDENCIES,
  PF_Cmd_COMPLETELY_GENERAL,
  PF_Cmd_QUERY_DYNAMIC_FLAGS,
  PF_Cmd_AUDIO_RENDER,
  PF_Cmd_AUDIO_SETUP,
  PF_Cmd_AUDIO_SETDOWN,
  PF_Cmd_ARBITRARY_CALLBACK,
  PF_Cmd_SMART_PRE_RENDER,
  PF_Cmd_SMART_RENDER,
  PF_Cmd_RESERVED1,
  PF_Cmd_RESERVED2,
  PF_Cmd_RESERVED3,
  PF_Cmd_GET_FLATTENED_SEQUENCE_DATA,
  PF_Cmd_TRANSLATE_PARAMS_TO_PREFS,
  PF_Cmd_RESERVED4,
  PF_Cmd_SMART_RENDER_GPU,
  PF_Cmd_GPU_DEVICE_SETUP,
  PF_Cmd_GPU_DEVICE_SETDOWN,
  PF_Cmd_NUM_CMDS
};

enum {
  PF_Err_NONE = 0,
  PF_Err_OUT_OF_MEMORY = 4,
  PF_FIRST_ERR = 512,
  PF_Err_INTERNAL_STRUCT_DAMAGED = PF_FIRST_ERR,
  PF_Err_INVALID_INDEX,
  PF_Err_UNRECOGNIZED_PARAM_TYPE,
  PF_Err_INVALID_CALLBACK,
  PF_Err_BAD_CALLBACK_PARAM,
  PF_Interrupt_CANCEL,
  PF_Err_CANNOT_PARSE_KEYFRAME_TEXT
};

enum {
  A_Err_NONE = 0,
  A_Err_GENERIC = 1,
  A_Err_STRUCT = 2,
  A_Err_PARAMETER = 3,
  A_Err_ALLOC = 4,
  A_Err_MISSING_SUITE = 13
};

enum { kSPNoError = 0 };

enum {
  PF_Param_RESERVED = -1,
  PF_Param_LAYER = 0,
  PF_Param_SLIDER,
  PF_Param_FIX_SLIDER,
  PF_Param_ANGLE,
  PF_Param_CHECKBOX,
  PF_Param_COLOR,
  PF_Param_POINT,
  PF_Param_POPUP,
  PF_Param_CUSTOM,
  PF_Param_NO_DATA,
  PF_Param_FLOAT_SLIDER,
  PF_Param_ARBITRARY_DATA,
  PF_Param_PATH,
  PF_Param_GROUP_START,
  PF_Param_GROUP_END,
  PF_Param_BUTTON,
  PF_Param_POINT_3D = 18
};

enum {
  PF_ParamFlag_CANNOT_TIME_VARY = 1 << 1,
  PF_ParamFlag_CANNOT_INTERP = 1 << 2,
  PF_ParamFlag_COLLAPSE_TWIRLY = 1 << 5,
  PF_ParamFlag_START_COLLAPSED = PF_ParamFlag_COLLAPSE_TWIRLY,
  PF_ParamFlag_SUPERVISE = 1 << 6,
  PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS = 1 << 7,
  PF_ParamFlag_EXCLUDE_FROM_HAVE_INPUTS_CHANGED = 1 << 8,
  PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 1 << 9
};

enum {
  PF_Precision_INTEGER = 0,
  PF_Precision_TENTHS,
  PF_Precision_HUNDREDTHS,
  PF_Precision_THOUSANDTHS,
  PF_Precision_TEN_THOUSANDTHS
};

enum {
  PF_ValueDisplayFlag_NONE = 0,
  PF_ValueDisplayFlag_PERCENT = 1 << 0,
  PF_ValueDisplayFlag_PIXEL = 1 << 1,
  PF_ValueDisplayFlag_REVERSE = 1 << 3
};

enum { PF_FSliderFlag_NONE = 0, PF_FSliderFlag_WANT_PHASE = 1 << 0 };

constexpr uint32_t PF_OutFlag_NONE = 0;
constexpr uint32_t PF_OutFlag_KEEP_RESOURCE_OPEN = 1u << 0;
constexpr uint32_t PF_OutFlag_WIDE_TIME_INPUT = 1u << 1;
constexpr uint32_t PF_OutFlag_NON_PARAM_VARY = 1u << 2;
constexpr uint32_t PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING = 1u << 4;
constexpr uint32_t PF_OutFlag_I_DO_DIALOG = 1u << 5;
constexpr uint32_t PF_OutFlag_USE_OUTPUT_EXTENT = 1u << 6;
constexpr uint32_t PF_OutFlag_SEND_DO_DIALOG = 1u << 7;
constexpr uint32_t PF_OutFlag_DISPLAY_ERROR_MESSAGE = 1u << 8;
constexpr uint32_t PF_OutFlag_I_EXPAND_BUFFER = 1u << 9;
constexpr uint32_t PF_OutFlag_PIX_INDEPENDENT = 1u << 10;
constexpr uint32_t PF_OutFlag_WORKS_IN_PLACE = 1u << 13;
constexpr uint32_t PF_OutFlag_CUSTOM_UI = 1u << 15;
constexpr uint32_t PF_OutFlag_REFRESH_UI = 1u << 17;
constexpr uint32_t PF_OutFlag_NOP_RENDER = 1u << 18;
constexpr uint32_t PF_OutFlag_I_USE_SHUTTER_ANGLE = 1u << 19;
constexpr uint32_t PF_OutFlag_FORCE_RERENDER = 1u << 22;
constexpr uint32_t PF_OutFlag_PiPL_OVERRIDES_OUTDATA_OUTFLAGS = 1u << 23;
constexpr uint32_t PF_OutFlag_DEEP_COLOR_AWARE = 1u << 25;
constexpr uint32_t PF_OutFlag_SEND_UPDATE_PARAMS_UI = 1u << 26;

constexpr uint32_t PF_OutFlag2_NONE = 0;
constexpr uint32_t PF_OutFlag2_SUPPORTS_QUERY_DYNAMIC_FLAGS = 1u << 0;
constexpr uint32_t PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG = 1u << 3;
constexpr uint32_t PF_OutFlag2_I_AM_THREADSAFE = 1u << 4;
constexpr uint32_t PF_OutFlag2_SUPPORTS_SMART_RENDER = 1u << 10;
constexpr uint32_t PF_OutFlag2_FLOAT_COLOR_AWARE = 1u << 12;
constexpr uint32_t PF_OutFlag2_AUTOMATIC_WIDE_TIME_INPUT = 1u << 17;
constexpr uint32_t PF_OutFlag2_SUPPORTS_GET_FLATTENED_SEQUENCE_DATA = 1u << 23;
constexpr uint32_t PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 1u << 27;

enum { PF_Stage_DEVELOP = 0, PF_Stage_ALPHA, PF_Stage_BETA, PF_Stage_RELEASE };

enum {
  PF_Vers_BUILD_BITS = 0x1FF,
  PF_Vers_BUILD_SHIFT = 0,
  PF_Vers_STAGE_BITS = 0x3,
  PF_Vers_STAGE_SHIFT = 9,
  PF_Vers_BUGFIX_BITS = 0xF,
  PF_Vers_BUGFIX_SHIFT = 11,
  PF_Vers_SUBVERS_BITS = 0xF,
  PF_Vers_SUBVERS_SHIFT = 15,
  PF_Vers_VERS_BITS = 0x7,
  PF_Vers_VERS_SHIFT = 19,
  PF_Vers_VERS_HIGH_BITS = 0xF,
  PF_Vers_VERS_HIGH_SHIFT = 26,
  PF_Vers_VERS_LOW_SHIFT = 3
};

// The host's version word: build 0-8, stage 9-10, bug fix 11-14, minor 15-18,
// major low bits 19-21 and high bits 26-29.
constexpr A_u_long PF_VERSION(A_u_long vers, A_u_long subvers, A_u_long bugvers, A_u_long stage,
                              A_u_long build) {
  return (((vers >> PF_Vers_VERS_LOW_SHIFT) & PF_Vers_VERS_HIGH_BITS) << PF_Vers_VERS_HIGH_SHIFT) |
         ((vers & PF_Vers_VERS_BITS) << PF_Vers_VERS_SHIFT) |
         ((subvers & PF_Vers_SUBVERS_BITS) << PF_Vers_SUBVERS_SHIFT) |
         ((bugvers & PF_Vers_BUGFIX_BITS) << PF_Vers_BUGFIX_SHIFT) |
         ((stage & PF_Vers_STAGE_BITS) << PF_Vers_STAGE_SHIFT) |
         ((build & PF_Vers_BUILD_BITS) << PF_Vers_BUILD_SHIFT);
}

enum { PF_AE_PLUG_IN_VERSION = 13, PF_AE_PLUG_IN_SUBVERS = 28 };

enum { PF_Quality_DRAWING_AUDIO = -1, PF_Quality_LO = 0, PF_Quality_HI = 1 };
enum { PF_MF_Alpha_PREMUL = 0, PF_MF_Alpha_STRAIGHT = 1 };
enum { PF_Field_FRAME = 0, PF_Field_UPPER = 1, PF_Field_LOWER = 2 };
enum { PF_Xfer_NONE = -1, PF_Xfer_COPY = 0, PF_Xfer_BEHIND = 1, PF_Xfer_IN_FRONT = 2 };
enum { PF_LayerDefault_MYSELF = -1, PF_LayerDefault_NONE = 0 };
enum { PF_Iterations_ONCE_PER_PROCESSOR = -1 };

enum {
  PF_MAX_EFFECT_NAME_LEN = 31,
  PF_MAX_EFFECT_PARAM_NAME_LEN = 31,
  PF_MAX_PARAM_DESCRIPTION_LEN = 31,
  PF_MAX_PARAM_VALUE_LEN = 31,
  PF_MAX_EFFECT_MSG_LEN = 255
};

constexpr PF_PixelFormat PF_PixelFormat_ARGB32 = 0x62677261;
constexpr PF_PixelFormat PF_PixelFormat_BGRA32 = 0x61726762;

enum {
  AEGP_ObjectType_NONE = -1,
  AEGP_ObjectType_AV = 0,
  AEGP_ObjectType_LIGHT = 1,
  AEGP_ObjectType_CAMERA = 2,
  AEGP_ObjectType_TEXT = 3,
  AEGP_ObjectType_VECTOR = 4,
  AEGP_ObjectType_NUM_TYPES = 10
};

enum {
  AEGP_LayerStream_NONE = -1,
  AEGP_LayerStream_ANCHORPOINT = 0,
  AEGP_LayerStream_POSITION = 1,
  AEGP_LayerStream_SCALE = 2,
  AEGP_LayerStream_ROTATION = 3,
  AEGP_LayerStream_OPACITY = 4
};

enum { AEGP_LTimeMode_LayerTime = 0, AEGP_LTimeMode_CompTime = 1 };

enum {
  AEGP_WorldType_NONE = 0,
  AEGP_WorldType_8 = 1,
  AEGP_WorldType_16 = 2,
  AEGP_WorldType_32 = 3
};

enum {
  AEGP_StreamType_NO_DATA = 0,
  AEGP_StreamType_ThreeD_SPATIAL,
  AEGP_StreamType_ThreeD,
  AEGP_StreamType_TwoD_SPATIAL,
  AEGP_StreamType_TwoD,
  AEGP_StreamType_OneD,
  AEGP_StreamType_COLOR,
  AEGP_StreamType_ARB,
  AEGP_StreamType_MARKER,
  AEGP_StreamType_LAYER_ID,
  AEGP_StreamType_MASK_ID,
  AEGP_StreamType_MASK,
  AEGP_StreamType_TEXT_DOCUMENT
};

// Suite names and the numeric versions passed to AcquireSuite.
#define kSPBasicSuite "SP Basic Suite"
#define kPFANSISuite "PF ANSI Suite"
#define kAEGPPFInterfaceSuite "AEGP PF Interface Suite"
#define kAEGPLayerSuite "AEGP Layer Suite"
#define kAEGPTextLayerSuite "AEGP Text Layer Suite"
#define kAEGPStreamSuite "AEGP Stream Suite"
#define kAEGPEffectSuite "AEGP Effect Suite"
#define kAEGPWorldSuite "AEGP World Suite"
#define kPFWorldTransformSuite "PF World Transform Suite"
#define kAEGPIterateSuite "AEGP Iterate Suite"
#define kPFPathDataSuite "PF Path Data Suite"
#define kPFPixelFormatSuite "PF Pixel Format Suite"

enum {
  kSPBasicSuiteVersion = 4,
  kPFANSISuiteVersion1 = 1,
  kAEGPPFInterfaceSuiteVersion1 = 1,
  kAEGPLayerSuiteVersion5 = 11,
  kAEGPLayerSuiteVersion9 = 15,
  kAEGPTextLayerSuiteVersion1 = 1,
  kAEGPStreamSuiteVersion3 = 8,
  kAEGPStreamSuiteVersion4 = 9,
  kAEGPStreamSuiteVersion6 = 11,
  kAEGPEffectSuiteVersion3 = 3,
  kAEGPEffectSuiteVersion4 = 4,
  kAEGPWorldSuiteVersion3 = 3,
  kPFWorldTransformSuiteVersion1 = 1,
  kAEGPIterateSuiteVersion1 = 1,
  kAEGPIterateSuiteVersion2 = 2,
  kPFPathDataSuiteVersion1 = 1,
  kPFPixelFormatSuiteVersion1 = 1
};

#endif  // VANTREL_AE_SDK_H
