// Texture loading for the track's data readers (ground tiles, roost, sky, flares) and the
// texture cache's part in a track load. The texture manager of the renderer installs both;
// headless programs install none and every id stays 0 while the names are kept.
#pragma once

#include <cstdint>

using TrackTextureLoader = int (*)(const char* name);
void track_set_texture_loader(TrackTextureLoader loader);
// Texture id for a name, 0 when no loader is installed or the texture could not be loaded.
int track_texture_load(const char* name);

// The texture cache around a track load: a new generation begins before the load, and the
// textures nobody asked for again are purged after it.
struct TrackTextureCache {
  void (*new_generation)();
  int64_t (*memory_used)();  // bytes of the current generation
  void (*purge_stale)();
};
void track_set_texture_cache(const TrackTextureCache* cache);
void track_textures_new_generation();
// 0 without a cache.
int64_t track_texture_memory();
void track_textures_purge_stale();
