#include "EditorState.h"

namespace tamsel {

std::string BaseNameOf(const std::string& videoPath) {
  // Only a dot in the file name itself starts an extension; a dot in a folder name does not.
  const size_t slash = videoPath.find_last_of("/\\");
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = videoPath.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return videoPath;
  return videoPath.substr(0, dot);
}

}  // namespace tamsel
