#pragma once

#include <string>

namespace tamsel {

/// What the document operations need from the person at the screen. The window implements it
/// with modal message boxes and file dialogs, the command line with its arguments and stderr,
/// the tests with a recorder.
class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  /// Shows a message with one OK button and returns once it is dismissed. "\r" breaks lines;
  /// many messages begin with a file path and a "\r".
  virtual void ShowMessage(const std::string& text) = 0;
  /// Asks for a revised text script to re-import (filter "文本文件|*.txt"). Returns the chosen
  /// path, or "" when the person cancels.
  virtual std::string ChooseTxtFile() = 0;
};

}  // namespace tamsel
