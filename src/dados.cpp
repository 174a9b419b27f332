#include "dados.h"

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "textio.h"

namespace malha {

namespace {

constexpr char kCaseFile[] = "entradas.txt";
constexpr char kEllipticFile[] = "entrada_eq_elipticas.txt";

constexpr char kIntegers10[] = "(5(I10))";
constexpr char kIntegers4x8[] = "(4(I8))";
constexpr char kIntegers5x8[] = "(5(I8))";
constexpr char kRealPair[] = "(2(1P,E25.15))";
constexpr char kReal[] = "(1P,E25.15)";

[[noreturn]] void reject_case(const std::string& message) {
  textio::fatal_error(textio::kErrCaseValue, textio::Statement::Read, kCaseFile, message);
}

bool is_plain_name_char(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-' || c == '+';
}

#ifdef _WIN32
// Characters Windows does not allow in a file name, and "%", which the command
// interpreter expands even between double quotes.
bool is_forbidden_name_char(unsigned char c) {
  return c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*' ||
         c == '%';
}

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// File names on Windows do not tell upper from lower case.
bool same_file_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (ascii_lower(a[k]) != ascii_lower(b[k])) return false;
  return true;
}

// A name that stands for a device (CON, NUL, COM1, ...) whatever extension
// follows it: "nul.txt" and "nul.a.txt" are the null device, not files.
bool is_device_name(std::string_view stem) {
  std::string_view base = stem.substr(0, stem.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  static constexpr std::array<std::string_view, 6> kDevices = {"con", "prn",    "aux",
                                                               "nul", "conin$", "conout$"};
  for (std::string_view device : kDevices)
    if (same_file_name(base, device)) return true;
  if (base.size() == 4 &&
      (same_file_name(base.substr(0, 3), "com") || same_file_name(base.substr(0, 3), "lpt"))) {
    return base[3] >= '1' && base[3] <= '9';
  }
  return false;
}
#else
bool same_file_name(std::string_view a, std::string_view b) {
  return a == b;
}
#endif

// A printable rendering of a case name for messages: control bytes as \xNN.
std::string shown(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void check_count(const char* what, std::int64_t value, const MeshState& s) {
  if (value > std::numeric_limits<std::int32_t>::max()) {
    reject_case("nx = " + std::to_string(s.nx) + " and ny = " + std::to_string(s.ny) + " give " +
                std::to_string(value) + " " + what + ", more than the 2147483647 a run can number");
  }
}

}  // namespace

std::string case_stem(const MeshState& s) {
  const std::size_t end = s.case_name.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.case_name.substr(0, end + 1);
}

std::string editor_command(std::string_view file_name) {
  bool plain = !file_name.empty();
  for (unsigned char c : file_name) plain = plain && is_plain_name_char(c);
  std::string command = "notepad ";
  if (plain) {
    command += file_name;
    return command;
  }
#ifdef _WIN32
  command += '"';
  command += file_name;
  command += '"';
#else
  // Single quotes keep every byte literal for the shell; a quote inside is
  // closed, escaped and reopened.
  command += '\'';
  for (char c : file_name) {
    if (c == '\'')
      command += "'\\''";
    else
      command += c;
  }
  command += '\'';
#endif
  return command;
}

void read_case_file(MeshState& s) {
  textio::run_command(std::string("notepad ") + kCaseFile);
  textio::open_unit(1, kCaseFile);
  textio::read_text(1, s.case_name);
  textio::read_integer(1, s.nx);
  textio::read_integer(1, s.ny);
  textio::read_integer(1, s.opt_elliptic);
  textio::read_integer(1, s.opt_nest);
  textio::close_unit(1);
}

void check_case_values(const MeshState& s) {
  if (s.nx < 2) {
    reject_case("nx = " + std::to_string(s.nx) +
                " (record 2) is out of range: the mesh needs at least 2 volumes along ksi");
  }
  if (s.ny < 1) {
    reject_case("ny = " + std::to_string(s.ny) +
                " (record 3) is out of range: the mesh needs at least 1 volume along eta");
  }
  const std::int64_t nx = s.nx;
  const std::int64_t ny = s.ny;
  check_count("volumes", nx * ny, s);
  check_count("vertices", (nx + 1) * (ny + 1), s);
  check_count("volumes with the fictitious ring", (nx + 2) * (ny + 2), s);

  const std::string stem = case_stem(s);
  if (stem.empty()) {
    reject_case("the case name (record 1) is empty: it is the stem of every output file name");
  }
  for (unsigned char c : stem) {
    if (c == '/' || c == '\\') {
      reject_case("the case name '" + shown(stem) + "' (record 1) contains '" +
                  std::string(1, static_cast<char>(c)) +
                  "': it must name files in the working directory");
    }
    if (c < 0x20 || c == 0x7F) {
      reject_case("the case name '" + shown(stem) +
                  "' (record 1) contains a control character, which cannot stand in a file name");
    }
#ifdef _WIN32
    if (is_forbidden_name_char(c)) {
      reject_case(
          "the case name '" + stem + "' (record 1) contains '" +
          std::string(1, static_cast<char>(c)) + "', which " +
          (c == '%' ? "the command interpreter would expand" : "cannot stand in a file name"));
    }
#endif
  }
#ifdef _WIN32
  if (is_device_name(stem)) {
    reject_case("the case name '" + stem + "' (record 1) names a device: its output file " + stem +
                ".txt would not be a file");
  }
#endif
  // Names whose ".txt" file is one the run reads or writes under a fixed name.
  static constexpr std::array<const char*, 4> kReserved = {"malha", "centroides", "entradas",
                                                          "entrada_eq_elipticas"};
  for (const char* reserved : kReserved) {
    if (same_file_name(stem, reserved)) {
      const std::string_view fixed = reserved;
      reject_case("the case name '" + stem + "' (record 1) is reserved: its output file " + stem +
                  ".txt would overwrite the file of that name that every run " +
                  (fixed == "malha" || fixed == "centroides" ? "writes" : "reads"));
    }
  }
}

void read_elliptic_file(MeshState& s) {
  textio::run_command(std::string("notepad ") + kEllipticFile);
  textio::open_unit(1, kEllipticFile);
  double unused = 0.0;
  textio::read_integer(1, s.nsweep);
  textio::read_integer(1, s.niter);
  textio::read_real(1, unused);
  textio::read_real(1, s.dksi);
  textio::read_real(1, s.deta);
  textio::read_integer(1, s.opt_psrc);
  textio::read_integer(1, s.opt_qsrc);
  textio::close_unit(1);
}

void write_mesh_files(MeshState& s) {
  const std::string stem = case_stem(s);
  const std::string name_mesh = stem + ".txt";
  const std::string name_vert = stem + "_vert.txt";
  const std::string name_cent = stem + "_cent.txt";
  const std::string name_vert_fict = stem + "_vert_fict.txt";
  const std::string name_cent_fict = stem + "_cent_fict.txt";

  textio::open_unit(5, name_mesh);
  textio::open_unit(6, "malha.txt");
  textio::open_unit(7, name_vert);
  textio::open_unit(8, name_vert_fict);
  textio::open_unit(9, name_cent);
  textio::open_unit(10, name_cent_fict);
  textio::open_unit(11, "centroides.txt");

  // File 1: sizes, spacings (eta first) and the vertex coordinates.
  textio::write_record(5, kIntegers10, {s.nx, s.ny, s.nxv, s.nyv, s.opt_elliptic});
  textio::write_record(5, kRealPair, {s.deta, s.dksi});
  for (std::int32_t j = 1; j <= s.nyv; ++j) {
    for (std::int32_t i = 1; i <= s.nxv; ++i) {
      const std::int64_t k = static_cast<std::int64_t>(j - 1) * s.nxv + i;
      textio::write_record(5, kRealPair, {s.xv(k), s.yv(k)});
    }
  }

  // File 2: the closed outline of every volume, then a separator record.
  for (std::int32_t j = 1; j <= s.ny; ++j) {
    for (std::int32_t i = 1; i <= s.nx; ++i) {
      const std::int64_t v = static_cast<std::int64_t>(j - 1) * s.nx + i;
      for (int c : {1, 2, 3, 4, 1}) {
        const std::int64_t k = s.conn(v, c);
        textio::write_record(6, kRealPair, {s.xv(k), s.yv(k)});
      }
      textio::write_free_record(6);
    }
  }

  // Files 3, 5 and 7 in one pass.
  for (std::int32_t j = 1; j <= s.ny; ++j) {
    for (std::int32_t i = 1; i <= s.nx; ++i) {
      const std::int64_t v = static_cast<std::int64_t>(j - 1) * s.nx + i;
      textio::write_record(7, kIntegers10, {s.conn(v, 1), s.conn(v, 2), s.conn(v, 3), s.conn(v, 4)});
      textio::write_record(9, kRealPair, {s.xc(v), s.yc(v)});
      textio::write_record(11, kRealPair, {s.xc(v), s.yc(v)});
    }
  }

  // File 4: the real volumes under their extended numbers.
  for (std::int32_t J = 2; J <= s.nyf - 1; ++J) {
    for (std::int32_t I = 2; I <= s.nxf - 1; ++I) {
      const std::int32_t w = (J - 1) * s.nxf + I;
      textio::write_record(
          8, kIntegers10, {w, s.connf(w, 1), s.connf(w, 2), s.connf(w, 3), s.connf(w, 4)});
    }
  }

  // File 6: every volume of the extended numbering, fictitious ring included.
  for (std::int64_t w = 1; w <= s.nvolf; ++w) textio::write_record(10, kRealPair, {s.xcf(w), s.ycf(w)});

  for (int unit = 5; unit <= 11; ++unit) textio::close_unit(unit);

  textio::run_command(editor_command(name_mesh));
  textio::run_command(editor_command(name_vert));
  textio::run_command(editor_command(name_vert_fict));
  textio::run_command(editor_command(name_cent));
  textio::run_command(editor_command(name_cent_fict));
  textio::run_command("wgnuplot malha.gnu");
  textio::run_command("wgnuplot malha_cent.gnu");
}

void write_nest_files(MeshState& s) {
  const std::string stem = case_stem(s);
  const std::string name_area = stem + "_nest_area.txt";
  const std::string name_conec = stem + "_nest_conec.txt";
  const std::string name_vert = stem + "_nest_vert.txt";
  const std::string name_cent = stem + "_nest_cent.txt";
  const std::string name_nest = stem + "_nest.txt";

  textio::open_unit(5, name_conec);
  textio::open_unit(6, name_vert);
  textio::open_unit(7, name_cent);
  textio::open_unit(8, name_nest);
  textio::open_unit(9, name_area);

  for (std::int64_t v = 1; v <= s.nvol; ++v)
    textio::write_record(5, kIntegers4x8, {s.nbr(1, v), s.nbr(2, v), s.nbr(3, v), s.nbr(4, v)});
  for (std::int64_t v = 1; v <= s.nvol; ++v)
    textio::write_record(6, kIntegers4x8, {s.conn(v, 1), s.conn(v, 2), s.conn(v, 3), s.conn(v, 4)});
  for (std::int64_t v = 1; v <= s.nvol; ++v) {
    textio::write_record(7, kRealPair, {s.xc(v), s.yc(v)});
    textio::write_record(9, kReal, {s.area(v)});
  }
  textio::write_record(8, kIntegers5x8, {s.nx, s.ny, s.nxv, s.nyv, s.opt_elliptic});
  for (std::int32_t j = 1; j <= s.nyv; ++j) {
    for (std::int32_t i = 1; i <= s.nxv; ++i) {
      const std::int64_t k = static_cast<std::int64_t>(j - 1) * s.nxv + i;
      textio::write_record(8, kRealPair, {s.xv(k), s.yv(k)});
    }
  }

  for (int unit = 5; unit <= 9; ++unit) textio::close_unit(unit);

  textio::run_command(editor_command(name_nest));
  textio::run_command(editor_command(name_conec));
  textio::run_command(editor_command(name_vert));
  textio::run_command(editor_command(name_cent));
  textio::run_command(editor_command(name_area));
}

}  // namespace malha
