// Descriptors 0 to 2 as every program of the project expects to find them at start.
#pragma once

// Opens /dev/null on whichever of standard input, output and error is closed, so that the next
// file or connection the process opens cannot take one of those numbers and receive the log.
// Call it first in main, before anything opens a file.
void ensureStandardDescriptors();
