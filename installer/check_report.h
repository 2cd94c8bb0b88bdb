// What a check found, and its report: lines for a person, or one JSON
// document for fleet and configuration-management tools. Part of the
// check (check.cpp).
#ifndef VLX_INSTALLER_CHECK_REPORT_H
#define VLX_INSTALLER_CHECK_REPORT_H

#include <string>
#include <vector>

#include "installer/run_state.h"

// A finding, printed with format and its arguments (paths relative to the
// root); reason, when not empty, goes on the line under it.
struct Finding {
  int order;  // the kinds are listed in this order
  const char* format;
  std::wstring first;
  std::wstring second;
  std::wstring reason;
};

struct CheckResult {
  std::vector<Finding> findings;
  std::vector<Finding> in_use;  // programs moved aside that still run: no findings
  const wchar_t* start_up;      // the boot file start.boot holds, or null
};

// Prints the findings (in the order of their kinds), the programs in use
// and the summary line; returns the check's status.
int print_check_lines(const RunState* state, CheckResult* result);

// Prints the same as one JSON document on one line; returns the status.
int print_check_json(const RunState* state, CheckResult* result);

#endif  // VLX_INSTALLER_CHECK_REPORT_H
