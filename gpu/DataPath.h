// Maps the program's backslash-separated data file names onto this file system.
#pragma once

#include <string>

// The name as given when such a file exists; otherwise the name with '\' read as the folder
// separator, looked up in the working directory and then in the data folder beside the
// executable. Returns the first candidate that exists, or the separator-mapped name.
std::string resolveDataPath(const std::string& name);
