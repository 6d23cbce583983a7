// The track editor: its state over the loaded track's ground and objects, the keys and pointer
// that drive it, commit and undo, the height brushes, tile painting and saving.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "editor/gradient.h"

struct Terrain;

constexpr int EDITOR_UNDO_SLOTS = 8;
// `button` holds this plus the widget index while the left button is held on the panel.
constexpr int EDITOR_BUTTON_WIDGET = 65536;
constexpr int EDITOR_STATUS_SIZE = 128;
// Bits of Terrain::changed the editor reads: heights or objects changed since the last commit,
// and changes not yet saved.
constexpr uint8_t CHANGED_UNCOMMITTED = 4;
constexpr uint8_t CHANGED_UNSAVED = 2;

constexpr int KEY_BACKSPACE = 8;
constexpr int KEY_DELETE = 127;

enum EditorMode {
  MODE_RAISE,
  MODE_LOWER,
  MODE_SMOOTH,
  MODE_SMUDGE,
  MODE_SNAP,
  MODE_GRADIENT_LINEAR_PAINT,
  MODE_GRADIENT_LINEAR_ADD,
  MODE_GRADIENT_RADIAL_PAINT,
  MODE_GRADIENT_RADIAL_ADD,
  MODE_GRADIENT_PLACEMENT,
  MODE_GRADIENT_EDIT,
  MODE_TIMING_GATE,
  MODE_BILLBOARDS,
  MODE_STATUES,
  MODE_TILEMAP,
  MODE_DECALS,
  EDITOR_MODE_COUNT
};

// The event codes the editor reacts to besides characters; the game fills them from the key
// names "cursor-left", "cursor-right", "left", "right", "up", "down", "enter", "keypad enter".
struct EditorKeys {
  int cursor_left, cursor_right, left, right, up, down, enter, keypad_enter;
};
extern EditorKeys editor_keys;

// One snapshot of the undo ring.
struct UndoSlot {
  std::vector<float> heights;
  std::vector<uint8_t> shading;     // 3 bytes per sample
  std::vector<uint8_t> normal_map;  // only when the terrain has one
};

struct EditorState {
  Terrain* terrain;  // null while no editor is active
  int mode;
  float centre_x, centre_z;  // world point at the window centre (ft)
  int button;                // 0 up, 1 held over the map, EDITOR_BUTTON_WIDGET + widget
  bool panning;
  float pan_x, pan_y;        // pointer at the last pan step (pixels)
  float anchor_x, anchor_z;  // start of the next stroke; anchor_x < 0 = none
  uint32_t tick;             // updates since the left button went down
  int drag;                  // 0 nothing or laying, 1 first handle, 2 second handle
  int hover;                 // panel widget under the pointer, -1 = none
  int last_px, last_py;      // pointer when hover was last computed
  std::vector<float> committed;  // heights at the last commit: every brush's baseline
  bool uncommitted;
  UndoSlot undo[EDITOR_UNDO_SLOTS];
  int undo_next, undo_count;
  char status[EDITOR_STATUS_SIZE];
  float smudge_x, smudge_z;
  std::vector<Gradient> gradients;
  int gradient, point;  // selected gradient and its selected point, -1 = none
  int checkpoint, billboard, placed, statue, decal;
  std::vector<int32_t> decal_group;
  // The pointer and the window, in pixels (y grows downward).
  int px, py;
  int width, height;
};
extern EditorState editor;

// Called at the end of a track load with the editor enabled: sets up the state over the terrain
// and reads the track's gradients. editor_free releases it (track_free).
void editor_init(Terrain* terrain);
void editor_free();
bool editor_active();

// Where the pointer is and how large the window is (pixels), before keys and updates.
void editor_set_pointer(int px, int py);
void editor_set_window(int width, int height);

// One key or button event; true when the editor consumed it.
bool editor_key(int code, bool pressed);
// Once per update while the editor view is shown: drags, brushes, panning, held sliders.
void editor_update();
// Takes the present heights as the baseline and pushes an undo snapshot when they changed.
void editor_commit();
void editor_undo();
// Writes every track file the editor changes.
void editor_save();

// Derived values of the view and brush.
float editor_zoom_scale();  // 2^zoom
float editor_pixel_scale();  // k, ft per pixel
float editor_pick_size();    // r
float editor_outer_radius();  // R_o
float editor_inner_radius();  // R_i
float editor_amount();        // a = 2^Strength
int editor_brush_level();     // smallest L >= 0 with 2^L * s >= a
// The world point under a window pixel, and under the pointer.
void editor_screen_to_world(float px, float py, float* x, float* z);
void editor_pointer_world(float* x, float* z);
void editor_set_status(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Selects a tool, committing first when it differs from the current one.
void editor_select_mode(int mode);

// Writes the track as a POV-Ray scene, "track.pov" in the track's directory ('p').
void pov_export();
// A POV-Ray identifier from a file name: the base name without extension, every character
// that is no letter or digit as '_', and '_' before a leading digit.
std::string pov_identifier(const char* name);

// Whether the track holds changes not yet saved (the quit confirmation warns of them).
bool editor_unsaved();
// The text lines the panel shows, in order: the actual brush radius and strength, the tool's
// lines, the pointer's world point with the ground height there, and the status.
std::vector<std::string> editor_panel_text();

// The brushes, snap and tile painting (one application each), used by editor_update.
void editor_apply_brush();
void editor_apply_snap();
void editor_apply_tiles();
// The largest tile the "Tile" slider offers: t - 1, t counting the leading tiles that blend
// into themselves (at least 0).
int editor_tile_limit(const Terrain* terrain);
