// The GL extension entry points the renderer calls (multitexturing, framebuffer objects,
// shader objects), fetched by name through the platform's lookup. A missing one stays null;
// callers use them only on the paths the capabilities allow.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

struct GlEntryPoints {
  // GL_ARB_multitexture
  PFNGLACTIVETEXTUREARBPROC active_texture;
  PFNGLCLIENTACTIVETEXTUREARBPROC client_active_texture;
  PFNGLMULTITEXCOORD1FARBPROC multi_tex_coord_1f;
  PFNGLMULTITEXCOORD2FARBPROC multi_tex_coord_2f;
  PFNGLMULTITEXCOORD3FARBPROC multi_tex_coord_3f;
  PFNGLMULTITEXCOORD4FARBPROC multi_tex_coord_4f;
  PFNGLMULTITEXCOORD2FVARBPROC multi_tex_coord_2fv;
  PFNGLMULTITEXCOORD3FVARBPROC multi_tex_coord_3fv;
  PFNGLMULTITEXCOORD4FVARBPROC multi_tex_coord_4fv;
  // GL_EXT_framebuffer_object
  PFNGLISRENDERBUFFEREXTPROC is_renderbuffer;
  PFNGLBINDRENDERBUFFEREXTPROC bind_renderbuffer;
  PFNGLDELETERENDERBUFFERSEXTPROC delete_renderbuffers;
  PFNGLGENRENDERBUFFERSEXTPROC gen_renderbuffers;
  PFNGLRENDERBUFFERSTORAGEEXTPROC renderbuffer_storage;
  PFNGLGETRENDERBUFFERPARAMETERIVEXTPROC get_renderbuffer_parameteriv;
  PFNGLISFRAMEBUFFEREXTPROC is_framebuffer;
  PFNGLBINDFRAMEBUFFEREXTPROC bind_framebuffer;
  PFNGLDELETEFRAMEBUFFERSEXTPROC delete_framebuffers;
  PFNGLGENFRAMEBUFFERSEXTPROC gen_framebuffers;
  PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC check_framebuffer_status;
  PFNGLFRAMEBUFFERTEXTURE1DEXTPROC framebuffer_texture_1d;
  PFNGLFRAMEBUFFERTEXTURE2DEXTPROC framebuffer_texture_2d;
  PFNGLFRAMEBUFFERTEXTURE3DEXTPROC framebuffer_texture_3d;
  PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC framebuffer_renderbuffer;
  PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVEXTPROC get_framebuffer_attachment_parameteriv;
  PFNGLGENERATEMIPMAPEXTPROC generate_mipmap;
  // GL_ARB_shader_objects and GL_ARB_vertex_shader
  PFNGLDELETEOBJECTARBPROC delete_object;
  PFNGLGETHANDLEARBPROC get_handle;
  PFNGLDETACHOBJECTARBPROC detach_object;
  PFNGLCREATESHADEROBJECTARBPROC create_shader_object;
  PFNGLSHADERSOURCEARBPROC shader_source;
  PFNGLCOMPILESHADERARBPROC compile_shader;
  PFNGLCREATEPROGRAMOBJECTARBPROC create_program_object;
  PFNGLATTACHOBJECTARBPROC attach_object;
  PFNGLLINKPROGRAMARBPROC link_program;
  PFNGLUSEPROGRAMOBJECTARBPROC use_program_object;
  PFNGLVALIDATEPROGRAMARBPROC validate_program;
  PFNGLUNIFORM1FARBPROC uniform_1f;
  PFNGLUNIFORM1IARBPROC uniform_1i;
  PFNGLUNIFORM3FARBPROC uniform_3f;
  PFNGLUNIFORM4FARBPROC uniform_4f;
  PFNGLUNIFORM1FVARBPROC uniform_1fv;
  PFNGLUNIFORM3FVARBPROC uniform_3fv;
  PFNGLUNIFORM4FVARBPROC uniform_4fv;
  PFNGLUNIFORMMATRIX3FVARBPROC uniform_matrix_3fv;
  PFNGLUNIFORMMATRIX4FVARBPROC uniform_matrix_4fv;
  PFNGLGETOBJECTPARAMETERIVARBPROC get_object_parameteriv;
  PFNGLGETINFOLOGARBPROC get_info_log;
  PFNGLGETATTACHEDOBJECTSARBPROC get_attached_objects;
  PFNGLGETUNIFORMLOCATIONARBPROC get_uniform_location;
  PFNGLGETUNIFORMFVARBPROC get_uniform_fv;
  PFNGLGETUNIFORMIVARBPROC get_uniform_iv;
  PFNGLVERTEXATTRIB1FARBPROC vertex_attrib_1f;
  PFNGLVERTEXATTRIB3FARBPROC vertex_attrib_3f;
  PFNGLVERTEXATTRIB4FARBPROC vertex_attrib_4f;
  PFNGLVERTEXATTRIB4FVARBPROC vertex_attrib_4fv;
  PFNGLVERTEXATTRIBPOINTERARBPROC vertex_attrib_pointer;
  PFNGLENABLEVERTEXATTRIBARRAYARBPROC enable_vertex_attrib_array;
  PFNGLDISABLEVERTEXATTRIBARRAYARBPROC disable_vertex_attrib_array;
  PFNGLBINDATTRIBLOCATIONARBPROC bind_attrib_location;
  PFNGLGETATTRIBLOCATIONARBPROC get_attrib_location;
};

extern GlEntryPoints gl_ext;

// Reads the driver's strings into gl_caps (logging "%d texture units\n" with multitexturing)
// and fetches every entry point. Needs a current context; run again after a new one.
void gl_caps_query();
