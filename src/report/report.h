// What the program reports about a case, and the two forms it prints it in.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "case_data.h"
#include "metrics.h"
#include "quality.h"

namespace malha::report {

struct Report {
  CaseFiles files;
  const Mesh* mesh = nullptr;
  const CellTable* cells = nullptr;
  std::vector<std::string> checked;  // the files found consistent
  QualitySummary quality;
  ConvergenceFigure convergence;
};

// The report for people: a dozen lines, then the two histograms.
std::string text_report(const Report& report);
// One JSON object (keys in the manual page); non-finite numbers are null.
std::string json_report(const Report& report);

// A number as the report prints it (6 significant digits) and as JSON holds
// it (the shortest text that reads back to the same double).
std::string short_number(double value);
std::string exact_number(double value);

}  // namespace malha::report
