#pragma once
// The cover-art loader run by a test: a clean cache and queue, the loader thread owned (and joined)
// by the fixture, and completions taken from the UI post queue.
#include <string>
#include <thread>
#include <vector>

class ArtLoaderFixture {
 public:
  ArtLoaderFixture();   // empty cache and queue; the loader is not started by requests
  ~ArtLoaderFixture();  // stops and joins the loader, clears everything
  ArtLoaderFixture(const ArtLoaderFixture&) = delete;
  ArtLoaderFixture& operator=(const ArtLoaderFixture&) = delete;
  void StartLoader();
  // Applies completions until `count` have arrived or `seconds` pass; the keys in arrival order.
  std::vector<std::wstring> TakeLoaded(size_t count, double seconds = 20);

 private:
  std::thread loader_;
};
