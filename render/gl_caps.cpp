// The GL capability rules: extension words, the version, and which paths may be used.
#include "render/gl_caps.h"

#include <cstdio>
#include <cstring>

GlCaps gl_caps;

bool gl_extension_present(const char* extensions, const char* name) {
  if (!extensions || !name || !*name) return false;
  const size_t length = strlen(name);
  for (const char* at = strstr(extensions, name); at; at = strstr(at + 1, name)) {
    const bool starts = at == extensions || at[-1] == ' ';
    const bool ends = at[length] == 0 || at[length] == ' ';
    if (starts && ends) return true;
  }
  return false;
}

void gl_version_parse(const char* version, int* major, int* minor) {
  *major = *minor = 0;
  if (version && sscanf(version, "%d.%d", major, minor) != 2) *major = *minor = 0;
}

void gl_caps_from_strings(GlCaps* caps, const char* vendor, const char* renderer,
                          const char* version, const char* extensions) {
  caps->vendor = vendor ? vendor : "NULL";
  caps->renderer = renderer ? renderer : "NULL";
  caps->version = version ? version : "NULL";
  caps->extensions = extensions ? extensions : "NULL";
  gl_version_parse(caps->version, &caps->version_major, &caps->version_minor);
  const char* e = caps->extensions;
  caps->has_generate_mipmap = gl_extension_present(e, "GL_SGIS_generate_mipmap");
  caps->has_fbo = gl_extension_present(e, "GL_EXT_framebuffer_object");
  caps->has_multitexture = gl_extension_present(e, "GL_ARB_multitexture");
  caps->has_fragment_shader = gl_extension_present(e, "GL_ARB_fragment_shader");
  caps->has_vertex_shader = gl_extension_present(e, "GL_ARB_vertex_shader");
}

bool gl_caps_compression_usable(const GlCaps& caps) { return caps.version_major > 1; }

bool programs_in_use_decide(bool use_shader_setting, const GlCaps& caps, bool programs_built) {
  return use_shader_setting && caps.has_fragment_shader && caps.texture_units > 3 && programs_built;
}

bool terrain_shaders_decide(bool programs_in_use, int render_texture_choice) {
  return programs_in_use && (render_texture_choice == 3 || render_texture_choice == 4);
}
