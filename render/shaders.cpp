// The seven shader programs: their sources, building them, and switching between them.
#include "render/shaders.h"

#include <cstring>
#include <string>

#include "platform/vant.h"
#include "render/gl_caps.h"
#include "render/gl_ext.h"

bool programs_in_use = false;
bool terrain_shaders = false;
int shader_switches = 0;

namespace {

// ---- Source pieces shared by the programs.

#define HEADER "#define MAX_BONE 10\n"

// Skinning: with nbones 0 the vertex is used as it is; otherwise each of 4 weights
// (texture coordinate 2) blends the transform of its bone (texture coordinate 3). The tangent
// arrives as texture coordinate 1.
#define SKIN                                                                   \
  "uniform int nbones;\n"                                                      \
  "uniform vec3 bone_c[MAX_BONE];\n"                                           \
  "uniform vec3 bone_t[MAX_BONE];\n"                                           \
  "uniform mat3 bone_r[MAX_BONE];\n"                                           \
  "void skin(out vec4 position, out vec3 n, out vec3 t) {\n"                   \
  "  if (nbones == 0) {\n"                                                     \
  "    position = gl_Vertex;\n"                                                \
  "    n = gl_Normal;\n"                                                       \
  "    t = gl_MultiTexCoord1.xyz;\n"                                           \
  "    return;\n"                                                              \
  "  }\n"                                                                      \
  "  vec3 p = vec3(0.0);\n"                                                    \
  "  n = vec3(0.0);\n"                                                         \
  "  t = vec3(0.0);\n"                                                         \
  "  for (int i = 0; i < 4; i++) {\n"                                          \
  "    float w = gl_MultiTexCoord2[i];\n"                                      \
  "    int b = int(gl_MultiTexCoord3[i]);\n"                                   \
  "    p += w * (bone_r[b] * (gl_Vertex.xyz - bone_c[b]) + bone_t[b]);\n"      \
  "    n += w * (bone_r[b] * gl_Normal);\n"                                    \
  "    t += w * (bone_r[b] * gl_MultiTexCoord1.xyz);\n"                        \
  "  }\n"                                                                      \
  "  position = vec4(p, 1.0);\n"                                               \
  "}\n"

// Light 0 as a direction, and the material's diffuse and ambient colours under it.
#define LIGHT_VARYINGS \
  "varying vec3 viewer;\n" \
  "varying vec3 light;\n"  \
  "varying vec4 diffuse;\n" \
  "varying vec4 ambient;\n"

#define LIGHT_SETUP                                                                            \
  "  light = normalize(gl_LightSource[0].position.xyz);\n"                                     \
  "  diffuse = gl_FrontMaterial.diffuse * gl_LightSource[0].diffuse;\n"                        \
  "  ambient = gl_FrontMaterial.ambient * gl_LightSource[0].ambient;\n"

#define MODEL_AMBIENT                                              \
  "  ambient += gl_LightModel.ambient * gl_FrontMaterial.ambient;\n" \
  "  ambient.a = min(ambient.a, 1.0);\n"

// The skinned vertex in eye space with its normal (and tangent) for the lit programs.
#define SKINNED_MAIN_START                            \
  "void main() {\n"                                   \
  "  vec4 position;\n"                                \
  "  vec3 n;\n"                                       \
  "  vec3 t;\n"                                       \
  "  skin(position, n, t);\n"                         \
  "  vec4 eye = gl_ModelViewMatrix * position;\n"     \
  "  viewer = eye.xyz;\n"                             \
  "  normal = normalize(gl_NormalMatrix * n);\n"      \
  "  gl_TexCoord[0] = gl_MultiTexCoord0;\n"           \
  "  gl_Position = gl_ProjectionMatrix * eye;\n"

#define TANGENT_OUT "  tangent = normalize(gl_NormalMatrix * t);\n"

// Diffuse and reflected light: ndl and rdl are 0 on the side turned away from the light.
#define LIGHT_TERMS(n)                                                       \
  "  float ndl = dot(" n ", light);\n"                                       \
  "  float rdl = max(dot(reflect(normalize(viewer), " n "), light), 0.0);\n" \
  "  if (ndl < 0.0) {\n"                                                     \
  "    ndl = 0.0;\n"                                                         \
  "    rdl = 0.0;\n"                                                         \
  "  }\n"

#define FOG                                                                            \
  "  float z = gl_FragCoord.z / gl_FragCoord.w;\n"                                     \
  "  float f = clamp(exp2(-1.4426950408889634 * gl_Fog.density * z), 0.0, 1.0);\n"     \
  "  colour.rgb = mix(gl_Fog.color.rgb, colour.rgb, f);\n"

// The normal from the normal map in the tangent frame of the vertex.
#define NORMAL_FROM_MAP                                                              \
  "  vec3 nv = normalize(normal);\n"                                                 \
  "  vec3 tv = normalize(tangent - nv * dot(nv, tangent));\n"                        \
  "  vec3 bv = cross(nv, tv);\n"                                                     \
  "  vec3 n = normalize(mat3(tv, bv, nv) *\n"                                        \
  "                     (texture2D(nmap, gl_TexCoord[0].st).rgb * 2.0 - 1.0));\n"

#define LIT_START \
  "  vec4 colour = ambient;\n"

#define LIT_DIFFUSE_TEXTURE                                  \
  "  colour.rgb += diffuse.rgb * ndl;\n"                     \
  "  colour *= texture2D(tex, gl_TexCoord[0].st);\n"

#define MATERIAL_SPECULAR                                                                  \
  "  colour.rgb += gl_FrontMaterial.specular.rgb * gl_LightSource[0].specular.rgb *\n"      \
  "                pow(rdl, gl_FrontMaterial.shininess);\n"

// ---- Vertex shaders.

const char LIT_VERTEX[] = HEADER SKIN LIGHT_VARYINGS
    "varying vec3 normal;\n"
    SKINNED_MAIN_START LIGHT_SETUP MODEL_AMBIENT "}\n";

const char LIT_TANGENT_VERTEX[] = HEADER SKIN LIGHT_VARYINGS
    "varying vec3 normal;\n"
    "varying vec3 tangent;\n"
    SKINNED_MAIN_START TANGENT_OUT LIGHT_SETUP MODEL_AMBIENT "}\n";

const char COLOUR_VERTEX[] = HEADER SKIN
    "varying vec3 viewer;\n"
    "varying vec3 normal;\n"
    SKINNED_MAIN_START "  gl_FrontColor = gl_Color;\n}\n";

const char COLOUR_TANGENT_VERTEX[] = HEADER SKIN
    "varying vec3 viewer;\n"
    "varying vec3 normal;\n"
    "varying vec3 tangent;\n"
    SKINNED_MAIN_START TANGENT_OUT "  gl_FrontColor = gl_Color;\n}\n";

const char TERRAIN_NORMALS_VERTEX[] = HEADER
    "varying vec2 tc;\n"
    "void main() {\n"
    "  vec4 p = gl_TextureMatrix[1] * gl_Vertex;\n"
    "  tc = p.xy / p.w;\n"
    "  gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "  gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;\n"
    "}\n";

const char TERRAIN_VERTEX[] = HEADER LIGHT_VARYINGS
    "void main() {\n"
    "  vec4 eye = gl_ModelViewMatrix * gl_Vertex;\n"
    "  viewer = eye.xyz;\n"
    "  gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "  gl_Position = gl_ProjectionMatrix * eye;\n"
    LIGHT_SETUP "}\n";

// ---- Fragment shaders.

const char LIT_FRAGMENT[] = HEADER LIGHT_VARYINGS
    "varying vec3 normal;\n"
    "uniform sampler2D tex;\n"
    "void main() {\n"
    "  vec3 n = normalize(normal);\n"
    LIGHT_TERMS("n") LIT_START LIT_DIFFUSE_TEXTURE MATERIAL_SPECULAR FOG
    "  gl_FragColor = colour;\n"
    "}\n";

const char NORM_LIT_FRAGMENT[] = HEADER LIGHT_VARYINGS
    "varying vec3 normal;\n"
    "varying vec3 tangent;\n"
    "uniform sampler2D tex;\n"
    "uniform sampler2D nmap;\n"
    "void main() {\n"
    NORMAL_FROM_MAP LIGHT_TERMS("n") LIT_START LIT_DIFFUSE_TEXTURE MATERIAL_SPECULAR FOG
    "  gl_FragColor = colour;\n"
    "}\n";

// The specular map's alpha gives the exponent; its top value means the material's own.
const char NORM_SPEC_LIT_FRAGMENT[] = HEADER LIGHT_VARYINGS
    "varying vec3 normal;\n"
    "varying vec3 tangent;\n"
    "uniform sampler2D tex;\n"
    "uniform sampler2D nmap;\n"
    "uniform sampler2D smap;\n"
    "void main() {\n"
    NORMAL_FROM_MAP LIGHT_TERMS("n") LIT_START LIT_DIFFUSE_TEXTURE
    "  vec4 s = texture2D(smap, gl_TexCoord[0].st);\n"
    "  float e = s.a * 128.0 + 0.125;\n"
    "  if (e >= 127.875) e = gl_FrontMaterial.shininess;\n"
    "  colour.rgb += s.rgb * gl_LightSource[0].specular.rgb * pow(rdl, e);\n"
    FOG
    "  gl_FragColor = colour;\n"
    "}\n";

// The reflected view direction, turned by envmat, looks up a polar map of the surroundings.
#define ENV_LOOKUP                                                               \
  "  vec3 v = normalize(envmat * reflect(viewer, n));\n"                         \
  "  vec2 tc = normalize(v.xz) * acos(v.y) * 0.15915494309189535;\n"             \
  "  gl_FragColor = texture2D(tex, tc + 0.5) * gl_Color;\n"

const char ENV_FRAGMENT[] = HEADER
    "varying vec3 viewer;\n"
    "varying vec3 normal;\n"
    "uniform sampler2D tex;\n"
    "uniform mat3 envmat;\n"
    "void main() {\n"
    "  vec3 n = normalize(normal);\n"
    ENV_LOOKUP
    "}\n";

const char NORM_ENV_FRAGMENT[] = HEADER
    "varying vec3 viewer;\n"
    "varying vec3 normal;\n"
    "varying vec3 tangent;\n"
    "uniform sampler2D tex;\n"
    "uniform sampler2D nmap;\n"
    "uniform mat3 envmat;\n"
    "void main() {\n"
    NORMAL_FROM_MAP ENV_LOOKUP
    "}\n";

// Composes a ground normal texture: the decal's normal, turned by the screen direction of its
// s axis, is carried into the frame of the ground normal underneath (base); the green channel
// keeps the ground's lit value.
const char TERRAIN_NORMALS_FRAGMENT[] = HEADER
    "varying vec2 tc;\n"
    "uniform sampler2D tex;\n"
    "uniform sampler2D base;\n"
    "void main() {\n"
    "  float s = gl_TexCoord[0].s;\n"
    "  mat2 m;\n"
    "  m[0] = normalize(vec2(dFdx(s), -dFdy(s)));\n"
    "  m[1] = vec2(-m[0][1], m[0][0]);\n"
    "  vec4 c = texture2D(tex, gl_TexCoord[0].st);\n"
    "  vec3 n = c.xzy * 2.0 - 1.0;\n"
    "  n.x = -n.x;\n"
    "  vec2 xz = vec2(n.x, n.z) * m;\n"
    "  n.x = xz.x;\n"
    "  n.z = xz.y;\n"
    "  mat3 r;\n"
    "  r[0] = vec3(1.0, 0.0, 0.0);\n"
    "  vec3 b = texture2D(base, tc).xyz;\n"
    "  float baselen = b.y;\n"
    "  b = b * 2.0 - 1.0;\n"
    "  b.y = sqrt(max(1.0 - b.z * b.z - b.x * b.x, 0.0));\n"
    "  r[1] = b;\n"
    "  r[2] = normalize(cross(r[0], r[1]));\n"
    "  r[0] = normalize(cross(r[1], r[2]));\n"
    "  n = normalize(r * n);\n"
    "  const float rim = 126.0 / 128.0;\n"
    "  if (n.x * n.x + n.z * n.z > rim * rim) {\n"
    "    n.y = 0.0;\n"
    "    n = normalize(n) * rim;\n"
    "  }\n"
    "  vec3 encoded = (n + 1.0) * 0.5;\n"
    "  gl_FragColor = vec4(encoded.x, baselen, encoded.z, c.a);\n"
    "}\n";

// The ground: the normal map holds x and z of the normal and the lit value in green; the
// specular map holds the strength in red and the exponent in green.
const char TERRAIN_FRAGMENT[] = HEADER LIGHT_VARYINGS
    "uniform sampler2D tex;\n"
    "uniform sampler2D nmap;\n"
    "uniform sampler2D smap;\n"
    "void main() {\n"
    "  vec3 n = texture2D(nmap, gl_TexCoord[0].st).rgb;\n"
    "  float len = n.y;\n"
    "  n = n * 2.0 - 1.0;\n"
    "  n.y = sqrt(max(1.0 - n.z * n.z - n.x * n.x, 0.0));\n"
    "  n = normalize(gl_NormalMatrix * n);\n"
    LIGHT_TERMS("n")
    "  vec4 colour = ambient + diffuse * ndl * len;\n"
    "  colour *= texture2D(tex, gl_TexCoord[0].st);\n"
    "  vec4 s = texture2D(smap, gl_TexCoord[0].st);\n"
    "  float e = s.g * 128.0 + 0.125;\n"
    "  colour.rgb += s.r * gl_LightSource[0].specular.rgb * pow(rdl, e) * len;\n"
    FOG
    "  gl_FragColor = colour;\n"
    "}\n";

// ---- Built programs.

struct ShaderProgram {
  GLhandleARB program, vertex, fragment;
  GLint nbones, bone_c, bone_t, bone_r, envmat;  // -1 until looked up
};

ShaderProgram programs[SHADER_SLOTS];
int current = 0;

void forget_locations(ShaderProgram& p) {
  p.nbones = p.bone_c = p.bone_t = p.bone_r = p.envmat = -1;
}

void delete_program(ShaderProgram& p) {
  if (p.program) {
    if (p.vertex) gl_ext.detach_object(p.program, p.vertex);
    if (p.fragment) gl_ext.detach_object(p.program, p.fragment);
    gl_ext.delete_object(p.program);
  }
  if (p.vertex) gl_ext.delete_object(p.vertex);
  if (p.fragment) gl_ext.delete_object(p.fragment);
  p.program = p.vertex = p.fragment = 0;
  forget_locations(p);
}

// Logs "<what> for <name>:\n<log>\n" when the object has something to say.
void log_info(GLhandleARB object, const char* what, const char* name) {
  GLint length = 0;
  gl_ext.get_object_parameteriv(object, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
  if (length <= 1) return;
  std::string text(static_cast<size_t>(length), '\0');
  GLsizei written = 0;
  gl_ext.get_info_log(object, length, &written, text.data());
  text.resize(static_cast<size_t>(written));
  if (!text.empty()) vant_log("%s for %s:\n%s\n", what, name, text.c_str());
}

// Creates and compiles one shader object; 0 after a failed compile (the object is deleted).
GLhandleARB compile(GLenum type, const char* source, const char* what, const char* name,
                    GLhandleARB* out) {
  GLhandleARB shader = gl_ext.create_shader_object(type);
  *out = shader;
  if (!shader) return 0;
  gl_ext.shader_source(shader, 1, &source, nullptr);
  gl_ext.compile_shader(shader);
  log_info(shader, what, name);
  GLint ok = 0;
  gl_ext.get_object_parameteriv(shader, GL_OBJECT_COMPILE_STATUS_ARB, &ok);
  return ok ? shader : 0;
}

bool build_one(ShaderProgram& p, const ShaderSource& source) {
  if (!compile(GL_VERTEX_SHADER_ARB, source.vertex, "vertex shader status", source.name, &p.vertex))
    return false;
  if (!compile(GL_FRAGMENT_SHADER_ARB, source.fragment, "fragment shader status", source.name,
               &p.fragment))
    return false;
  p.program = gl_ext.create_program_object();
  if (!p.program) return false;
  gl_ext.attach_object(p.program, p.vertex);
  gl_ext.attach_object(p.program, p.fragment);
  gl_ext.link_program(p.program);
  log_info(p.program, "link status", source.name);
  GLint ok = 0;
  gl_ext.get_object_parameteriv(p.program, GL_OBJECT_LINK_STATUS_ARB, &ok);
  return ok != 0;
}

void set_sampler(int slot, const char* name, int unit) {
  GLint location = gl_ext.get_uniform_location(programs[slot].program, name);
  if (location >= 0) gl_ext.uniform_1i(location, unit);
}

GLint cached_location(GLint* cache, int slot, const char* name) {
  if (*cache == -1) *cache = gl_ext.get_uniform_location(programs[slot].program, name);
  return *cache;
}

bool shader_entry_points() {
  return gl_ext.create_shader_object && gl_ext.shader_source && gl_ext.compile_shader &&
         gl_ext.create_program_object && gl_ext.attach_object && gl_ext.link_program &&
         gl_ext.use_program_object && gl_ext.get_object_parameteriv && gl_ext.get_info_log &&
         gl_ext.get_uniform_location && gl_ext.uniform_1i && gl_ext.delete_object &&
         gl_ext.detach_object;
}

}  // namespace

const ShaderSource shader_sources[SHADER_SLOTS] = {
    {"fixed", nullptr, nullptr},
    {"lit", LIT_VERTEX, LIT_FRAGMENT},
    {"env", COLOUR_VERTEX, ENV_FRAGMENT},
    {"norm_lit", LIT_TANGENT_VERTEX, NORM_LIT_FRAGMENT},
    {"norm_env", COLOUR_TANGENT_VERTEX, NORM_ENV_FRAGMENT},
    {"norm_spec_lit", LIT_TANGENT_VERTEX, NORM_SPEC_LIT_FRAGMENT},
    {"terrain_normals", TERRAIN_NORMALS_VERTEX, TERRAIN_NORMALS_FRAGMENT},
    {"terrain", TERRAIN_VERTEX, TERRAIN_FRAGMENT},
};

bool shaders_build() { return shaders_build_from(shader_sources); }

bool shaders_build_from(const ShaderSource* sources) {
  shaders_delete();
  if (!gl_caps.has_fragment_shader || !gl_caps.has_vertex_shader || !shader_entry_points())
    return false;
  for (int slot = 1; slot < SHADER_SLOTS; slot++) {
    if (!build_one(programs[slot], sources[slot])) {
      shaders_delete();
      return false;
    }
  }
  for (int slot = 1; slot < SHADER_SLOTS; slot++) {
    gl_ext.use_program_object(programs[slot].program);
    const bool normal_mapped = slot == SHADER_NORM_LIT || slot == SHADER_NORM_ENV ||
                               slot == SHADER_NORM_SPEC_LIT || slot == SHADER_TERRAIN;
    if (normal_mapped) set_sampler(slot, "nmap", 1);
    if (slot == SHADER_NORM_SPEC_LIT || slot == SHADER_TERRAIN) set_sampler(slot, "smap", 2);
    if (slot == SHADER_TERRAIN_NORMALS) set_sampler(slot, "base", 1);
  }
  gl_ext.use_program_object(0);
  current = SHADER_FIXED;
  return true;
}

void shaders_decide(bool use_shader_setting, bool built, int render_texture_choice) {
  programs_in_use = programs_in_use_decide(use_shader_setting, gl_caps, built);
  terrain_shaders = terrain_shaders_decide(programs_in_use, render_texture_choice);
}

void shader_use(int slot) {
  if (slot < 0 || slot >= SHADER_SLOTS || slot == current) return;
  if (gl_ext.use_program_object) gl_ext.use_program_object(programs[slot].program);
  current = slot;
  shader_switches++;
}

int shader_current() { return current; }

GLhandleARB shader_program(int slot) {
  return slot >= 1 && slot < SHADER_SLOTS ? programs[slot].program : 0;
}

void shader_set_bones(int count, const float* centres, const float* translations, const float* rotations) {
  if (current < 1 || !programs[current].program) return;
  ShaderProgram& p = programs[current];
  if (count < 0) count = 0;
  if (count > SHADER_MAX_BONES) count = SHADER_MAX_BONES;
  GLint nbones = cached_location(&p.nbones, current, "nbones");
  if (nbones >= 0) gl_ext.uniform_1i(nbones, count);
  if (count == 0) return;
  GLint c = cached_location(&p.bone_c, current, "bone_c");
  GLint t = cached_location(&p.bone_t, current, "bone_t");
  GLint r = cached_location(&p.bone_r, current, "bone_r");
  if (c >= 0) gl_ext.uniform_3fv(c, count, centres);
  if (t >= 0) gl_ext.uniform_3fv(t, count, translations);
  if (r >= 0) gl_ext.uniform_matrix_3fv(r, count, GL_FALSE, rotations);
}

void shader_set_envmat(const float* matrix) {
  for (int slot : {SHADER_ENV, SHADER_NORM_ENV}) {
    if (!programs[slot].program) continue;
    shader_use(slot);
    GLint location = cached_location(&programs[slot].envmat, slot, "envmat");
    if (location >= 0) gl_ext.uniform_matrix_3fv(location, 1, GL_FALSE, matrix);
  }
  shader_use(SHADER_FIXED);
}

void shaders_delete() {
  if (current != SHADER_FIXED && gl_ext.use_program_object) gl_ext.use_program_object(0);
  current = SHADER_FIXED;
  for (ShaderProgram& p : programs) {
    if (p.program || p.vertex || p.fragment) delete_program(p);
    forget_locations(p);
  }
}
