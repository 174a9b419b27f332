// What the program reports about a case, and the two forms it prints it in.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "mesh/quality.h"
#include "report/case_data.h"
#include "report/measures/summary.h"
#include "smoothing/figure.h"

namespace malha::report {

struct Report {
  CaseFiles files;
  const Mesh* mesh = nullptr;
  const CellTable* cells = nullptr;
  std::vector<std::string> checked;  // the files found consistent
  QualitySummary quality;
  ConvergenceFigure convergence;
  Verdict verdict;
};

// The report for people: a dozen lines, then the two histograms.
std::string text_report(const Report& report);
// One JSON object (keys in the manual page); non-finite numbers are null.
std::string json_report(const Report& report);

class Json;
// The quality part of the report (quality_report.cpp): the table of the
// measures with the bad cells; the histograms with the face summary; the
// same in the JSON; the verdict in the JSON.
std::string quality_table(const Report& report);
std::string quality_histograms(const Report& report);
void quality_json(Json& j, const Report& report);
void verdict_json(Json& j, const Verdict& verdict);

// The JSON object of a run stopped by a failed check: the program, the case
// and the verdict, with the message of the failure.
std::string failure_json(const CaseFiles& files, const Verdict& verdict,
                         const std::string& message);

// A text in a column `width` wide, to the right or (left) to the left; one
// that does not fit still keeps a blank from its neighbour, so that columns
// never run together.
std::string padded(const std::string& s, std::size_t width, bool left = false);

// A number as the report prints it (6 significant digits) and as JSON holds
// it (the shortest text that reads back to the same double).
std::string short_number(double value);
std::string exact_number(double value);

}  // namespace malha::report
