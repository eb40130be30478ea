// Library versions read from the headers the core was compiled against.
#include "pipeline/versions.hpp"

#include <CGAL/version_macros.h>
#include <clipper2/clipper.version.h>
#include <oneapi/tbb/version.h>

namespace linetopo {

std::vector<std::pair<std::string, std::string>> library_versions() {
  return {
      {"Clipper2", CLIPPER2_VERSION}, {"CGAL", CGAL_VERSION_STR}, {"oneTBB", TBB_VERSION_STRING}};
}

}  // namespace linetopo
