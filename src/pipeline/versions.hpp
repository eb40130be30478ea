// The versions of the libraries the core was built with, for bug reports.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace linetopo {

// (name, version) of Clipper2, CGAL and oneTBB, as their headers state them at build time.
std::vector<std::pair<std::string, std::string>> library_versions();

}  // namespace linetopo
