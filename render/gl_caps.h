// What the GL driver offers: its strings, version and the optional paths they allow
// (multitexturing, framebuffer objects, automatic mipmaps, compressed textures, shader programs),
// and the rules that decide from them. The rules are GL-free; gl_caps_query reads the driver.
#pragma once

struct GlCaps {
  const char* vendor;
  const char* renderer;
  const char* version;
  const char* extensions;  // "NULL" when the driver gives none
  int version_major, version_minor;
  bool has_generate_mipmap;  // GL_SGIS_generate_mipmap
  bool has_fbo;              // GL_EXT_framebuffer_object
  bool has_multitexture;     // GL_ARB_multitexture
  bool has_fragment_shader;  // GL_ARB_fragment_shader
  bool has_vertex_shader;    // GL_ARB_vertex_shader
  int texture_units;         // read only with multitexturing, else 0
};

extern GlCaps gl_caps;

// Whether name occurs in the extension list as a whole word: preceded by the start or a space
// and followed by the end or a space. A longer name that starts with it does not count.
bool gl_extension_present(const char* extensions, const char* name);
// "%d.%d" from the start of the version string; 0.0 when it does not read.
void gl_version_parse(const char* version, int* major, int* minor);
// Fills the strings (null ones become "NULL"), the version and the extension flags; texture
// units are left to the caller.
void gl_caps_from_strings(GlCaps* caps, const char* vendor, const char* renderer,
                          const char* version, const char* extensions);
// Compressed texture formats are used only on GL 2 and later.
bool gl_caps_compression_usable(const GlCaps& caps);

// The built programs are used when the player wants them, the driver runs fragment programs
// with more than 3 texture units, and every program built.
bool programs_in_use_decide(bool use_shader_setting, const GlCaps& caps, bool programs_built);
// The terrain is drawn with shader programs when the programs are in use and the terrain
// rendering method is "Shaders/Copy" (3) or "Shaders/Direct" (4).
bool terrain_shaders_decide(bool programs_in_use, int render_texture_choice);
