#pragma once
// Questions and error boxes raised by engine code on the worker thread. The
// call returns once the user (or a command line's flags) has answered.
#include <string>

class IUserPrompt {
 public:
  virtual ~IUserPrompt() = default;

  // An OK/Cancel question; true for OK.
  virtual bool AskOkCancel(const std::string& text) = 0;
  // An error message with an OK button.
  virtual void ShowError(const std::string& text) = 0;
};
