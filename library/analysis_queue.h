#pragma once
// The background analysis: tempo, grid, key and loudness of many files on a few detached workers
// at background priority; each result is applied to the file's record on the UI thread.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "base/track.h"

inline constexpr int kAnalysedPost = 5;          // wparam generation, lparam AnalysisResult*
inline constexpr int kAnalysisFinishedPost = 6;  // wparam generation, lparam null
inline constexpr int kMaxAnalysisWorkers = 4;

// One analysed file, handed to the UI thread. track is null when the file could not be decoded;
// otherwise its samples are released and only the analysis is kept.
struct AnalysisResult {
  std::wstring path;
  TrackPtr track;
};

// UI-thread state the browser reads for its progress.
extern bool Analysing;
extern std::atomic<uint32_t> AnalysisGeneration;  // raised by every start and stop
extern int AnalysisDone;
extern int AnalysisTotal;

// Workers for a run: half the hardware threads (0 reported counts as 1), at most one per path,
// clamped to 1..kMaxAnalysisWorkers.
int AnalysisWorkerCount(size_t paths, unsigned hardwareThreads);
// Starts a run over the paths (copied); with none says "Everything here is already analysed".
// A run already going is superseded: its workers stop after the file in hand.
void AnalysePaths(const std::vector<std::wstring>& paths);
// The analyse button: stops a running run ("Analysis stopped"), else analyses the view's files, in
// display order, that have no analysed record.
void ToggleAnalysis();
// The paths, in order, whose record is missing or not analysed.
std::vector<std::wstring> UnanalysedPaths(const std::vector<std::wstring>& paths);

// Completion 5, UI thread: applies a current result to the file's record (an imported grid keeps
// its tempo and gains the key only when it has none; loudness always) and rebuilds a view sorted
// by BPM or key; frees it either way. True when a record changed.
bool ApplyAnalysisResult(uint32_t generation, AnalysisResult* result);
// Completion 6, UI thread: a current run ends: saves the library, says "Analysis finished".
void FinishAnalysis(uint32_t generation);
