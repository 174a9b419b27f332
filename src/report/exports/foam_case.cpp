#include "report/exports/foam_case.h"

#include <array>
#include <system_error>

#include "report/checks/records.h"
#include "report/output_file.h"

namespace malha::report {

namespace {

// A run of one step that does nothing but let the utilities read the mesh:
// checkMesh needs the case's controlDict, the schemes and solution settings
// of an empty field list.
constexpr const char* kControlDict = R"(application     checkMesh;
startFrom       startTime;
startTime       0;
stopAt          endTime;
endTime         1;
deltaT          1;
writeControl    timeStep;
writeInterval   1;
writeFormat     ascii;
writePrecision  17;
)";

constexpr const char* kFvSchemes = R"(ddtSchemes           { default steadyState; }
gradSchemes          { default Gauss linear; }
divSchemes           { default none; }
laplacianSchemes     { default Gauss linear corrected; }
interpolationSchemes { default linear; }
snGradSchemes        { default corrected; }
)";

constexpr const char* kFvSolution = R"(solvers
{
}
)";

struct SystemFile {
  const char* name;
  const char* body;
};
constexpr std::array<SystemFile, 3> kSystemFiles = {
    {{"controlDict", kControlDict}, {"fvSchemes", kFvSchemes}, {"fvSolution", kFvSolution}}};

}  // namespace

void make_case_folder(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::symlink_status(folder, error);
  if (fs::is_symlink(status)) fail(folder.string(), 0, "a folder", "a link (not written through)");
  if (fs::exists(status) && !fs::is_directory(status))
    fail(folder.string(), 0, "a folder", "a file of that name");
  if (!fs::exists(status) && !fs::create_directory(folder, error) && error)
    fail(folder.string(), 0, "a folder that can be made", error.message());
}

std::string foam_header(const std::string& cls, const std::string& location,
                        const std::string& object, const std::string& note) {
  std::string text =
      "/*--------------------------------*- C++ -*----------------------------------*\\\n"
      "  Written by malha-report\n"
      "\\*---------------------------------------------------------------------------*/\n"
      "FoamFile\n{\n    version     2.0;\n    format      ascii;\n    class       " +
      cls + ";\n";
  if (!note.empty()) text += "    note        \"" + note + "\";\n";
  return text + "    location    \"" + location + "\";\n    object      " + object + ";\n}\n\n";
}

int write_system_files(const std::filesystem::path& system) {
  int written = 0;
  for (const SystemFile& f : kSystemFiles) {
    const std::filesystem::path file = system / f.name;
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(file, error))) continue;
    OutputFile out(file);
    out.put(foam_header("dictionary", "system", f.name));
    out.put(f.body);
    out.close();
    ++written;
  }
  return written;
}

}  // namespace malha::report
