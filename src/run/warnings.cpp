// The warnings about the case as it was read and about the files it left
// beside the new ones (run/summary.h). They change nothing: a value the run
// took as "off" stays off, and an earlier run's file stays as it is.
#include <cstdint>
#include <string>

#include "files/dados.h"
#include "files/layout.h"
#include "platform.h"
#include "run/summary.h"
#include "textio.h"

namespace malha {

namespace {

constexpr char kWarning[] = "malha: warning: ";
// The most bytes of a value a warning quotes.
constexpr std::size_t kShownValue = 40;

// An option of entradas.txt: its value, its line and what it switches.
struct CaseOption {
  std::int32_t value;
  int line;
  const char* name;
  const char* taken;  // what the run did with it off
};

std::string option_warning(const CaseOption& o) {
  // Any value but the two documented ones is taken as off, and may have been
  // meant otherwise (1 for "yes", 0 for "no" both read as off).
  if (o.value == kOptionOff || o.value == kOptionOn) return "";
  return std::string(kWarning) + "line " + std::to_string(o.line) + " of entradas.txt (" + o.name +
         ") is " + std::to_string(o.value) + ", neither 1 (off) nor 2 (on): taken as off, " +
         o.taken + "\n";
}

// A count of the elliptic file below 1.
std::string no_pass_warning(std::int32_t value, const char* name, int line, const char* what) {
  if (value >= 1) return "";
  return std::string(kWarning) + name + " = " + std::to_string(value) + " (line " +
         std::to_string(line) + " of entrada_eq_elipticas.txt) runs no " + what +
         ": the mesh is the algebraic one\n";
}

// A name longer than the 100 bytes read is cut, as it always was (files may
// rely on the cut name), before a character that would not fit whole; the
// files bear the cut name.
std::string cut_name_warning(const MeshState& s) {
  if (s.case_name_written <= s.case_name_kept) return "";
  std::string out = kWarning;
  out += "the case name in entradas.txt has " + std::to_string(s.case_name_written);
  out += " characters; its first " + std::to_string(s.case_name_kept) + " name the files: '";
  out += case_stem(s);
  out += "'\n";
  return out;
}

// What a ',' or a '/' cut off a value, and what to write instead.
std::string cut_value_warning(const textio::CutValue& v) {
  const textio::Escaping how{.keep_non_ascii = true, .limit = kShownValue};
  std::string out = kWarning;
  out += "line " + std::to_string(v.line) + " of " + v.file + " holds '" +
         textio::escaped(v.written, how) + "', read as ";
  const char* quote = v.text ? "'" : "";
  out += quote;
  out += textio::escaped(v.read, how);
  out += quote;
  out += ": a '";
  out += v.separator;
  out += "' ends a value";
  if (v.text) {
    out += " unless the text is quoted";
    if (v.separator == '/') out += ", and a case name cannot hold one";
  } else if (v.separator == ',') {
    out += "; a decimal fraction takes a point";
  }
  return out + "\n";
}

}  // namespace

std::string cut_value_warnings(const std::vector<textio::CutValue>& values) {
  std::string out;
  for (const textio::CutValue& v : values) out += cut_value_warning(v);
  return out;
}

std::string setting_warnings(const MeshState& s, bool converged) {
  std::string out = s.input_warnings + cut_name_warning(s) +
                    option_warning({s.opt_elliptic, 4, "smoothing", "the mesh was not smoothed"}) +
                    option_warning({s.opt_nest, 5, "nest files", "no nest file was written"});
  if (!option_on(s.opt_elliptic) || converged) return out;
  out += no_pass_warning(s.niter, "niter", 2, "smoothing pass");
  if (s.niter >= 1) out += no_pass_warning(s.nsweep, "nsweep", 1, "Gauss-Seidel sweep");
  return out;
}

std::string earlier_files_warning(const MeshState& s) {
  // The mesh set is written by every run; only the nest set can be left over.
  if (option_on(s.opt_nest)) return "";
  // As the summary lists a set.
  std::string names;
  for (const OutputFile file : case_files_listed(FileSet::Nest)) {
    const std::string name = output_file_name(s, file);
    if (platform::file_exists(name)) names += (names.empty() ? "" : ", ") + name;
  }
  if (names.empty()) return "";
  return std::string(kWarning) + "nest files of an earlier run are left as they were (this run " +
         "wrote none, so they may not match the mesh files): " + names + "\n";
}

}  // namespace malha
