// The folder of an OpenFOAM case and the text its files share: the folders
// made (never through a link), the FoamFile header, and the system/ files
// that let OpenFOAM's utilities run on the case as it is.
#pragma once

#include <filesystem>
#include <string>

namespace malha::report {

// The folder, made when it is missing. One that is a link, or a file, is
// refused (CheckFailure naming it): the case is not written through links.
void make_case_folder(const std::filesystem::path& folder);

// The header of an OpenFOAM file of class `cls` (vectorField, faceList,
// labelList, polyBoundaryMesh, dictionary) in folder `location` of the case,
// with a `note` when not empty.
std::string foam_header(const std::string& cls, const std::string& location,
                        const std::string& object, const std::string& note = "");

// system/controlDict, fvSchemes and fvSolution, each written when there is
// nothing of that name yet (a case set up for a solver keeps its own).
// Returns how many were written.
int write_system_files(const std::filesystem::path& system);

}  // namespace malha::report
