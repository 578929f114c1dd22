// The testing library: a clock of the test's own, and file dialogs answered beforehand.
#include <deque>
#include <string>
#include <utility>

#include "hooks_internal.h"
#include "testhooks.h"

namespace {

std::deque<std::pair<int, std::string>> g_answers;

bool TakePresetAnswer(int *result, std::string *path) {
    if (g_answers.empty()) return false;
    *result = g_answers.front().first;
    *path = g_answers.front().second;
    g_answers.pop_front();
    return true;
}

} // namespace

void SetTimerFunction(double (*clock)(void)) {
    kvor_ui::g_clockOverride = clock;
}

void PresetFileSelectAnswer(int result, const std::string &path) {
    g_answers.emplace_back(result, path);
    kvor_ui::g_fileSelectPreset = &TakePresetAnswer;
}

void ClearFileSelectAnswers(void) {
    g_answers.clear();
}

FileSelectRequest LastFileSelectRequest(void) {
    return kvor_ui::g_lastFileSelect;
}
