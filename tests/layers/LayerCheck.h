#pragma once
// The layers as the sources hold them: every include of every file in a product folder,
// followed through the headers it reaches, checked against what the folder may reach. The
// build refuses most reaching (each library sees only the headers it may); this also catches
// what a compiler finds anyway, such as "../serial/Comm.h" or a header of a folder it may
// reach that itself reaches further.

#include <filesystem>
#include <string>
#include <vector>

namespace layers {

// "app/UMainForm.cpp reaches link/UComm.h through session/ModuleSession.h", one per file and
// header it may not reach; empty when every folder keeps to its layer.
std::vector<std::string> Violations(const std::filesystem::path &sourceRoot);

// The product folders, as the check reads them.
std::vector<std::string> ProductFolders();

} // namespace layers
