#pragma once
// The AI set builder's form, its start and its result on the UI thread. UI thread only.
#include <string>
#include <vector>

#include "library/ai_set.h"
#include "ui/modal.h"

// A job runs: set when one starts, cleared when its result is applied.
extern bool AiJobRunning;
// What the description field held last (not saved).
extern std::wstring LastAiDescription;
// The chat request's allowance in ms (the harness shortens it).
extern unsigned AiChatAllowanceMs;

// Opens the form, or says on the status line why not (a job runs, the view is still scanning).
void AiSetDialog();
// The form's BUILD: fields description, length in minutes, model.
void StartAiJob(const std::vector<ModalField>& fields);
// Completion 13: stores the set as a list, or shows the error (the install question for a missing
// server or model). Owns and deletes the job. True when a list was made.
bool ApplyAiSet(AiJob* job);
// The length field as minutes: its leading whole number, clamped to 5..600 (no number gives 5).
int32_t AiSetMinutes(const std::wstring& text);
