// Reading the driver's capabilities and fetching the extension entry points by name.
#include <cstddef>
#include <cstring>

#include "platform/vant.h"
#include "platform/window.h"
#include "render/gl_caps.h"
#include "render/gl_ext.h"

GlEntryPoints gl_ext;

namespace {

struct EntryName {
  const char* name;
  size_t offset;  // of the pointer inside GlEntryPoints
};

#define ENTRY(gl_name, member) {gl_name, offsetof(GlEntryPoints, member)}
const EntryName ENTRY_NAMES[] = {
    ENTRY("glActiveTextureARB", active_texture),
    ENTRY("glClientActiveTextureARB", client_active_texture),
    ENTRY("glMultiTexCoord1fARB", multi_tex_coord_1f),
    ENTRY("glMultiTexCoord2fARB", multi_tex_coord_2f),
    ENTRY("glMultiTexCoord3fARB", multi_tex_coord_3f),
    ENTRY("glMultiTexCoord4fARB", multi_tex_coord_4f),
    ENTRY("glMultiTexCoord2fvARB", multi_tex_coord_2fv),
    ENTRY("glMultiTexCoord3fvARB", multi_tex_coord_3fv),
    ENTRY("glMultiTexCoord4fvARB", multi_tex_coord_4fv),
    ENTRY("glIsRenderbufferEXT", is_renderbuffer),
    ENTRY("glBindRenderbufferEXT", bind_renderbuffer),
    ENTRY("glDeleteRenderbuffersEXT", delete_renderbuffers),
    ENTRY("glGenRenderbuffersEXT", gen_renderbuffers),
    ENTRY("glRenderbufferStorageEXT", renderbuffer_storage),
    ENTRY("glGetRenderbufferParameterivEXT", get_renderbuffer_parameteriv),
    ENTRY("glIsFramebufferEXT", is_framebuffer),
    ENTRY("glBindFramebufferEXT", bind_framebuffer),
    ENTRY("glDeleteFramebuffersEXT", delete_framebuffers),
    ENTRY("glGenFramebuffersEXT", gen_framebuffers),
    ENTRY("glCheckFramebufferStatusEXT", check_framebuffer_status),
    ENTRY("glFramebufferTexture1DEXT", framebuffer_texture_1d),
    ENTRY("glFramebufferTexture2DEXT", framebuffer_texture_2d),
    ENTRY("glFramebufferTexture3DEXT", framebuffer_texture_3d),
    ENTRY("glFramebufferRenderbufferEXT", framebuffer_renderbuffer),
    ENTRY("glGetFramebufferAttachmentParameterivEXT", get_framebuffer_attachment_parameteriv),
    ENTRY("glGenerateMipmapEXT", generate_mipmap),
    ENTRY("glDeleteObjectARB", delete_object),
    ENTRY("glGetHandleARB", get_handle),
    ENTRY("glDetachObjectARB", detach_object),
    ENTRY("glCreateShaderObjectARB", create_shader_object),
    ENTRY("glShaderSourceARB", shader_source),
    ENTRY("glCompileShaderARB", compile_shader),
    ENTRY("glCreateProgramObjectARB", create_program_object),
    ENTRY("glAttachObjectARB", attach_object),
    ENTRY("glLinkProgramARB", link_program),
    ENTRY("glUseProgramObjectARB", use_program_object),
    ENTRY("glValidateProgramARB", validate_program),
    ENTRY("glUniform1fARB", uniform_1f),
    ENTRY("glUniform1iARB", uniform_1i),
    ENTRY("glUniform3fARB", uniform_3f),
    ENTRY("glUniform4fARB", uniform_4f),
    ENTRY("glUniform1fvARB", uniform_1fv),
    ENTRY("glUniform3fvARB", uniform_3fv),
    ENTRY("glUniform4fvARB", uniform_4fv),
    ENTRY("glUniformMatrix3fvARB", uniform_matrix_3fv),
    ENTRY("glUniformMatrix4fvARB", uniform_matrix_4fv),
    ENTRY("glGetObjectParameterivARB", get_object_parameteriv),
    ENTRY("glGetInfoLogARB", get_info_log),
    ENTRY("glGetAttachedObjectsARB", get_attached_objects),
    ENTRY("glGetUniformLocationARB", get_uniform_location),
    ENTRY("glGetUniformfvARB", get_uniform_fv),
    ENTRY("glGetUniformivARB", get_uniform_iv),
    ENTRY("glVertexAttrib1fARB", vertex_attrib_1f),
    ENTRY("glVertexAttrib3fARB", vertex_attrib_3f),
    ENTRY("glVertexAttrib4fARB", vertex_attrib_4f),
    ENTRY("glVertexAttrib4fvARB", vertex_attrib_4fv),
    ENTRY("glVertexAttribPointerARB", vertex_attrib_pointer),
    ENTRY("glEnableVertexAttribArrayARB", enable_vertex_attrib_array),
    ENTRY("glDisableVertexAttribArrayARB", disable_vertex_attrib_array),
    ENTRY("glBindAttribLocationARB", bind_attrib_location),
    ENTRY("glGetAttribLocationARB", get_attrib_location),
};
#undef ENTRY

const char* gl_string(GLenum name) {
  const GLubyte* s = glGetString(name);
  return s ? reinterpret_cast<const char*>(s) : nullptr;
}

}  // namespace

void gl_caps_query() {
  gl_caps = GlCaps{};
  gl_caps_from_strings(&gl_caps, gl_string(GL_VENDOR), gl_string(GL_RENDERER),
                       gl_string(GL_VERSION), gl_string(GL_EXTENSIONS));
  if (gl_caps.has_multitexture) {
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
    gl_caps.texture_units = units;
    vant_log("%d texture units\n", units);
  }
  for (const EntryName& entry : ENTRY_NAMES) {
    void* address = vant_gl_proc_address(entry.name);
    memcpy(reinterpret_cast<char*>(&gl_ext) + entry.offset, &address, sizeof address);
  }
}
