// Starting a helper program directly, without a shell between: its name
// and arguments reach it as they are, whatever characters they hold.
#pragma once

#include <string>
#include <vector>

namespace tools {

// Runs argv (the program's path first; a bare name is looked up in the
// PATH, as a shell would) with standard error on the null device and
// collects its standard output.  True when it ran and exited
// with code 0.
bool RunChild(const std::vector<std::string>& argv, std::string& out);

}  // namespace tools
