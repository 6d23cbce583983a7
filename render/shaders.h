// The shader programs for per-pixel lighting, normal and specular maps, environment
// reflections, skinning on the GPU and the terrain, and the one program in use. Slot 0 is the
// fixed-function pipeline; every path that uses a program also has a fixed-function form.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

constexpr int SHADER_SLOTS = 8;
constexpr int SHADER_MAX_BONES = 10;  // MAX_BONE of the skinning shaders

enum ShaderSlot {
  SHADER_FIXED,
  SHADER_LIT,
  SHADER_ENV,
  SHADER_NORM_LIT,
  SHADER_NORM_ENV,
  SHADER_NORM_SPEC_LIT,
  SHADER_TERRAIN_NORMALS,
  SHADER_TERRAIN,
};

struct ShaderSource {
  const char* name;
  const char* vertex;
  const char* fragment;
};

// The sources of slots 1-7 (slot 0 has none).
extern const ShaderSource shader_sources[SHADER_SLOTS];

// The built programs are used (decided at start-up from the setting, the driver and the build).
extern bool programs_in_use;
// The terrain is drawn with the "terrain" and "terrain_normals" programs.
extern bool terrain_shaders;
// Program switches so far (frame statistics).
extern int shader_switches;

// Builds slots 1-7 in order from the built-in sources; needs the fragment and vertex shader
// extensions. Compiler and linker messages are logged. On any failure every program built so
// far is deleted and false is returned.
bool shaders_build();
// The same from another table of sources (slots 1-7 are used).
bool shaders_build_from(const ShaderSource* sources);
// Sets programs_in_use and terrain_shaders from the "use_shader" setting, the capabilities,
// the build result and the terrain rendering method choice (0-4).
void shaders_decide(bool use_shader_setting, bool built, int render_texture_choice);

// Makes slot 0-7 current (0 = fixed function); nothing when it already is.
void shader_use(int slot);
// The slot now in use.
int shader_current();
// The program object of slot 1-7, 0 for slot 0, other slots or unbuilt programs.
GLhandleARB shader_program(int slot);
// Bone transforms of the current slot's skinning: count bones (at most SHADER_MAX_BONES), each
// with a centre and a translation (3 floats) and a rotation (9 floats, column by column).
// A count of 0 turns skinning off.
void shader_set_bones(int count, const float* centres, const float* translations, const float* rotations);
// The reflection matrix (9 floats, column by column) of the "env" and "norm_env" programs;
// leaves slot 0 current.
void shader_set_envmat(const float* matrix);
// Detaches and deletes every program and shader object.
void shaders_delete();
