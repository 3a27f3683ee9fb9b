/* The plug-in bridge for programs in other languages: plain C functions over
 * the bridge, exported unmangled from a shared library of their own. Bridges
 * are named by opaque handles, plug-ins inside a bridge by its integer ids;
 * text is NUL-terminated UTF-8. A handle that was never created or has been
 * destroyed makes every function return its failure value and write nothing. */
#ifndef CDW_PLUGIN_BRIDGE_C_H
#define CDW_PLUGIN_BRIDGE_C_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CDW_BRIDGE_API __attribute__((visibility("default")))

typedef void* BridgeHandle;

/* One plug-in description, 1332 bytes, zero-filled before it is written; texts
 * too long for their field are cut and still terminated. */
typedef struct BridgePluginInfo {
    char uid[256];
    char name[256];
    char vendor[256];
    char path[512];
    char format[32];
    int32_t numParameters;
    int32_t reserved;
    int32_t numInputChannels;
    int32_t numOutputChannels;
    uint32_t isInstrument;
} BridgePluginInfo;

/* A planar block: channel c begins at data + c * numFrames. */
typedef struct BridgeAudioBuffer {
    float* data;
    int32_t numChannels;
    int32_t numFrames;
} BridgeAudioBuffer;

CDW_BRIDGE_API BridgeHandle create_bridge(void);
CDW_BRIDGE_API void destroy_bridge(BridgeHandle h);
CDW_BRIDGE_API int bridge_initialize(BridgeHandle h, int sampleRate, int blockSize);
CDW_BRIDGE_API void bridge_shutdown(BridgeHandle h);

CDW_BRIDGE_API int bridge_get_plugin_count(BridgeHandle h);
CDW_BRIDGE_API int bridge_get_plugin_info(BridgeHandle h, int index, BridgePluginInfo* out);
CDW_BRIDGE_API int bridge_scan_plugins(BridgeHandle h, const char* directory);
CDW_BRIDGE_API int bridge_get_scanned_plugin_count(BridgeHandle h);
CDW_BRIDGE_API int bridge_get_scanned_plugin_info(BridgeHandle h, int index, BridgePluginInfo* out);

CDW_BRIDGE_API int bridge_load_plugin(BridgeHandle h, const char* path);
CDW_BRIDGE_API int bridge_unload_plugin(BridgeHandle h, int id);
CDW_BRIDGE_API int bridge_activate_plugin(BridgeHandle h, int id);
CDW_BRIDGE_API int bridge_deactivate_plugin(BridgeHandle h, int id);
CDW_BRIDGE_API int bridge_set_parameter(BridgeHandle h, int id, int index, float value);
CDW_BRIDGE_API float bridge_get_parameter(BridgeHandle h, int id, int index);

CDW_BRIDGE_API void bridge_process(BridgeHandle h, const BridgeAudioBuffer* in, BridgeAudioBuffer* out);

CDW_BRIDGE_API int bridge_save_preset(BridgeHandle h, int id, const char* path);
CDW_BRIDGE_API int bridge_load_preset(BridgeHandle h, int id, const char* path);

CDW_BRIDGE_API int bridge_show_editor(BridgeHandle h, const char* path);
CDW_BRIDGE_API int bridge_hide_editor(BridgeHandle h, int id);
CDW_BRIDGE_API int bridge_is_editor_open_by_id(BridgeHandle h, int id);

CDW_BRIDGE_API int bridge_add_plugin_to_track(BridgeHandle h, const char* trackId, const char* path);
CDW_BRIDGE_API int bridge_remove_plugin_from_track(BridgeHandle h, const char* trackId, int slot);
CDW_BRIDGE_API int bridge_set_track_plugin_bypass(BridgeHandle h, const char* trackId, int slot, int bypass);
CDW_BRIDGE_API void bridge_process_track(BridgeHandle h, const char* trackId, const float* input, float* output,
                                         int numChannels, int numFrames);
CDW_BRIDGE_API void bridge_clear_track_plugins(BridgeHandle h, const char* trackId);

/* Reserved names: they read none of their arguments and do nothing. */
CDW_BRIDGE_API int bridge_get_program_count(BridgeHandle h, int id);                 /* 0 */
CDW_BRIDGE_API int bridge_set_program(BridgeHandle h, int id, int program);         /* 0 */
CDW_BRIDGE_API int bridge_get_current_program(BridgeHandle h, int id);              /* 0 */
CDW_BRIDGE_API int bridge_is_editor_open(BridgeHandle h);                            /* 0 */
CDW_BRIDGE_API int bridge_render_offline(BridgeHandle h, int id, const void* events, int numEvents,
                                         int numFrames, float* output);             /* 0 */
CDW_BRIDGE_API int bridge_schedule_midi_sequence(BridgeHandle h, int id, const void* events,
                                                 int numEvents);                     /* -1 */
CDW_BRIDGE_API void bridge_hide_editor_window(BridgeHandle h);
CDW_BRIDGE_API void bridge_send_note_on(BridgeHandle h, int id, int channel, int note, int velocity);
CDW_BRIDGE_API void bridge_send_note_off(BridgeHandle h, int id, int channel, int note);
CDW_BRIDGE_API void bridge_stop_midi_sequence(BridgeHandle h, int id);

#ifdef __cplusplus
}
#endif

#endif /* CDW_PLUGIN_BRIDGE_C_H */
