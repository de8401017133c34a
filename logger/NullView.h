// A logger view that shows nothing, for what runs the logger's core without
// a window: benchmarks, fuzz targets, tools. Every text it is given is read
// to its end, so a text without its terminator is found.
#pragma once

#include <string.h>

#include "LoggerView.h"

class NullView : public LoggerView {
 public:
  void SetControlText(int, LPCWSTR text) override { shown += wcslen(text); }
  void EnableControl(int, BOOL) override {}
  void ShowControl(int, BOOL) override {}
  void RedrawStatusBox() override {}
  void StartTimer(UINT, UINT) override {}
  void StopTimer(UINT) override {}
  void DefaultBeep() override {}
  void ExclamationBeep() override {}
  void EnterCompactTile() override {}
  void ShowErrorBox(LPCWSTR text) override { shown += wcslen(text); }
  size_t shown = 0;
};
