#include "installer/check_report.h"

#include <string.h>

#include <algorithm>

#include "installer/messages.h"

using namespace vlx;

namespace {

void sort_findings(CheckResult* result) {
  std::stable_sort(result->findings.begin(), result->findings.end(),
                   [](const Finding& a, const Finding& b) { return a.order < b.order; });
}

std::string json(const std::wstring& text) { return quote_json(encode_utf8(text.c_str())); }

// A finding as a JSON object: its kind, path and what the line says of it.
std::string json_finding(const Finding& finding) {
  const char* format = finding.format;
  const char* kind = format == kFindingMissing || format == kFindingMissingSource ? "missing"
                     : format == kFindingUnreadable                             ? "unreadable"
                     : format == kFindingLeftOver || format == kFindingLeftOverOfUser ? "left-over"
                     : format == kProgramInUse                                  ? "in-use"
                                                                                : "differs";
  std::string object = "{\"kind\": \"" + std::string(kind) + "\", \"path\": " + json(finding.first);
  if (format == kFindingMissingSource) object += ", \"detail\": \"the source\"";
  if (format == kFindingDiffersFrom) object += ", \"detail\": " + json(L"from " + finding.second);
  if (format == kFindingDiffersFromNeither) object += ", \"detail\": \"from neither start-up file\"";
  if (format == kFindingLink) object += ", \"detail\": \"a link\"";
  if (format == kFindingDiffersValue) object += ", \"detail\": " + json(finding.second);
  if (format == kFindingLeftOverOfUser) object += ", \"owner\": " + json(finding.second);
  if (format == kProgramInUse) object += ", \"detail\": " + json(L"the replaced " + finding.second + L", still running");
  if (!finding.reason.empty()) object += ", \"reason\": " + json(finding.reason);
  return object + "}";
}

}  // namespace

int print_check_lines(const RunState* state, CheckResult* result) {
  sort_findings(result);
  for (const Finding& finding : result->findings) {
    print_message(kStandardOutput, finding.format, finding.first.c_str(), finding.second.c_str());
    if (!finding.reason.empty()) print_message(kStandardOutput, kReason, finding.reason.c_str());
  }
  for (const Finding& program : result->in_use) {
    print_message(kStandardOutput, program.format, program.first.c_str(), program.second.c_str());
  }
  const std::string& version = state->runtime_version;
  std::wstring shown = decode_utf8(version.data(), version.size());
  std::wstring count = std::to_wstring(result->findings.size());
  if (result->findings.empty()) {
    bool minimal = wcscmp(result->start_up, L"start_minimal.boot") == 0;
    print_message(kStandardOutput, minimal ? kCheckedMinimal : kCheckedTavrel, shown.c_str());
  } else {
    print_message(kStandardOutput, result->findings.size() == 1 ? kCheckedOneFinding : kCheckedFindings,
                  shown.c_str(), count.c_str());
  }
  return result->findings.empty() ? 0 : 1;
}

int print_check_json(const RunState* state, CheckResult* result) {
  sort_findings(result);
  bool complete = result->findings.empty();
  std::string start_up = !complete || !result->start_up                            ? "null"
                         : wcscmp(result->start_up, L"start_minimal.boot") == 0 ? "\"minimal\""
                                                                                  : "\"tavrel\"";
  std::string text = "{\"root\": " + json(state->root_dir) + ", \"release\": {\"VSN\": " +
                     quote_json(state->runtime_version) + ", \"SYSTEM_VSN\": " + quote_json(state->system_version) +
                     "}, \"start_up\": " + start_up + ", \"findings\": [";
  bool first = true;
  for (const std::vector<Finding>* list : {&result->findings, &result->in_use}) {
    for (const Finding& finding : *list) {
      text += (first ? "" : ", ") + json_finding(finding);
      first = false;
    }
  }
  text += "], \"verdict\": \"" + std::string(complete ? "complete" : "incomplete") + "\"}\n";
  write_console(kStandardOutput, text.data(), text.size());
  return complete ? 0 : 1;
}
