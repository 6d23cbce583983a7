// The texture loader and cache hooks the track's data readers and loader call.
#include "track/textures.h"

namespace {
TrackTextureLoader texture_loader = nullptr;
const TrackTextureCache* texture_cache = nullptr;
}

void track_set_texture_loader(TrackTextureLoader loader) {
  texture_loader = loader;
}

int track_texture_load(const char* name) {
  return texture_loader ? texture_loader(name) : 0;
}

void track_set_texture_cache(const TrackTextureCache* cache) { texture_cache = cache; }

void track_textures_new_generation() {
  if (texture_cache) texture_cache->new_generation();
}

int64_t track_texture_memory() { return texture_cache ? texture_cache->memory_used() : 0; }

void track_textures_purge_stale() {
  if (texture_cache) texture_cache->purge_stale();
}
