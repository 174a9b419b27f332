// The files of one case as `malha` writes them, read and checked against each
// other, with the caller's own work on the mesh beside the checks on the same
// two threads. Nothing here writes to them. The types are in case_data.h.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "report/case_data.h"

namespace malha::report {

// The case named by the command line: a case name, or a path to CASE.txt.
// An argument that ends in a folder separator names no case: CheckFailure.
CaseFiles case_from_argument(const std::string& argument);

struct CheckedCase {
  Mesh mesh;
  CellTable cells;
  std::vector<std::string> checked;  // the files found consistent, CASE.txt first
};

// Reads CASE.txt and checks it (header counts against the records, fixed
// columns), then checks CASE_vert.txt, which must be there, and every other
// file of the case that is there against it; two threads share the files.
// Throws CheckFailure, which names the file, the line, what was expected and
// what was found.
// `beside` is work of the caller that needs the mesh and the cell table and
// runs on the same two threads as the checks, once the table is there.
using CaseTask = std::function<void(const Mesh&, const CellTable&)>;
CheckedCase read_case(const CaseFiles& files, const std::vector<CaseTask>& beside = {});

}  // namespace malha::report
