#include "screens/cover_art.h"

#include "library/cover_art.h"

std::shared_ptr<Bitmap> RequestArt(const std::wstring& path) {
  ArtEntry* entry = TouchArtEntry(path);
  if (!entry || !entry->loaded || entry->pixels.empty()) return nullptr;
  const int64_t generation = DeviceGeneration();
  if (entry->bitmap && entry->state == generation) return entry->bitmap;
  // Made from the kept pixels: a new device never reads the file again.
  entry->bitmap = CreateBitmapFromPixels(entry->pixels.data(), entry->width, entry->height);
  entry->state = entry->bitmap ? generation : kArtNoBitmap;
  return entry->bitmap;
}
